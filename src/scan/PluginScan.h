// The "scanVSTs" walk of the plug-in folders, one implementation per platform.
#pragma once

#include <string>

// The complete text reply: a list of the plug-in files found under the
// default folders and the client's extra folder (empty for none).
std::string scanReply(const std::string& extraFolder);
