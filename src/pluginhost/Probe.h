// The plug-in process's probe mode, for the catalogue:
//   corvel-plugin-host --probe <module path>
// Reads the module's plug-ins in this process and writes one line of JSON
// (a CatalogueEntry) per plug-in, or one "not-a-plugin" line with the
// reason for a module that holds none. The plug-in may crash or hang
// instead: the program reads that from how the process ended.
#pragma once

#include <functional>
#include <string>

// writeLine gets each line, newline included, as soon as it is known; the
// platform's main gives it the standard output that it kept from the
// plug-in (whose own printing goes to standard error). Returns the exit code.
int runProbe(const std::string& path,
             const std::function<void(const std::string& line)>& writeLine);
