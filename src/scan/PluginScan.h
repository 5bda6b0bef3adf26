// The "scanVSTs" walk of the plug-in folders, one implementation per platform.
#pragma once

#include <atomic>
#include <string>
#include <vector>

// The complete text reply: a list of the plug-in files found under the
// default folders and the client's extra folder (empty for none). Once
// abandoned is set the walk stops at the next folder entry and the reply
// is meaningless: a walk of "/" takes seconds.
std::string scanReply(const std::string& extraFolder, const std::atomic<bool>& abandoned);

// The plug-in files of that walk, as UTF-8 paths in the order found.
std::vector<std::string> findPluginFiles(const std::string& extraFolder,
                                         const std::atomic<bool>& abandoned);
