// The textual form of a web origin, as the gate and the allow-list compare it.
#pragma once

#include <string>
#include <string_view>

// "scheme://host[:port]" with scheme and host in lower case and the port as
// written; empty when the text is not of that shape (a path, a query or
// fragment, white space, bytes outside printable ASCII, more than 255
// characters), such as "null".
std::string canonicalOrigin(std::string_view text);
