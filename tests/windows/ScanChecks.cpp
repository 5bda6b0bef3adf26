// "scanVSTs" against real folders: the extra folder, a default folder, names
// that must and must not match, a name beyond the basic multilingual plane,
// and a folder link that leads back to its own ancestor.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CheckSupport.h"

namespace {

std::string scan(WsClient& client, const std::string& command) {
    client.sendText(command);
    return client.receiveText(kReplyMs).value_or("<no text reply>");
}

// The reply lists each path once and nothing else, in any order.
bool listsExactly(const std::string& reply, const std::vector<std::string>& paths) {
    std::size_t length = paths.size() + 1;  // the brackets and commas: no room left for a repeat
    for (const std::string& path : paths) {
        const std::string quoted = "\"" + path + "\"";
        if (reply.find(quoted) == std::string::npos) return false;
        length += quoted.size();
    }
    return reply.size() == length && reply.front() == '[' && reply.back() == ']';
}

}  // namespace

void scanChecks(const Options& options, WsClient& client) {
    // The tree under the scan root; its "loop\up" link back to the root is
    // made beforehand from the Unix side.
    const std::wstring& root = options.scanRoot;
    std::string rootText = narrow(root);
    std::replace(rootText.begin(), rootText.end(), '\\', '/');
    for (const wchar_t* folder : {L"\\Effects.dll", L"\\A\\B", L"\\loop"})
        std::filesystem::create_directories(root + folder);
    for (const wchar_t* file : {L"\\a.dll", L"\\Synth.DLL", L"\\Synthdll", L"\\.hidden.dll",
                                L"\\notes.txt", L"\\Effects.dll\\inner.dll", L"\\A\\B\\deep.dll",
                                L"\\loop\\in-loop.dll", L"\\\U0001F3B9 keys.dll"})
        std::ofstream(std::filesystem::path(root + file));
    check(GetFileAttributesW((root + L"\\loop\\up").c_str()) != INVALID_FILE_ATTRIBUTES,
          "the scan tree has its link back to the root");

    const std::wstring defaultRoot = L"C:\\Program Files\\VSTPlugins";
    const bool hadDefault = GetFileAttributesW(defaultRoot.c_str()) != INVALID_FILE_ATTRIBUTES;
    check(!hadDefault && scan(client, "scanVSTs") == "[]",
          "with no plug-in folders the reply is \"[]\"");

    // Every name ending in "dll" once, with forward slashes; the emoji as one 4-byte UTF-8
    // sequence.
    std::vector<std::string> expected;
    for (const char* name : {"/.hidden.dll", "/A/B/deep.dll", "/Effects.dll/inner.dll", "/Synthdll",
                             "/a.dll", "/loop/in-loop.dll", "/\xF0\x9F\x8E\xB9 keys.dll"})
        expected.push_back(rootText + name);
    const std::string all = scan(client, "scanVSTs " + narrow(root));
    check(listsExactly(all, expected),
          "the extra folder's tree yields every name ending in \"dll\" once", all);
    check(scan(client, "scanVSTs " + narrow(root) + "\\A") == "[\"" + rootText + "/A/B/deep.dll\"]",
          "a sub-folder's reply is exact");
    check(scan(client, "scanVSTs " + narrow(root) + "\\A\\") ==
              "[\"" + rootText + "/A//B/deep.dll\"]",
          "an extra folder with a trailing backslash gives a doubled slash");
    check(scan(client, "scanVSTs " + narrow(root) + "\\missing") == "[]",
          "a missing extra folder gives \"[]\"");

    if (!hadDefault) {
        const std::wstring tree = defaultRoot + L"\\CorvelCheck";
        std::filesystem::create_directories(tree + L"\\B");
        std::ofstream(std::filesystem::path(tree + L"\\B\\one.dll"));
        const std::string one = "[\"C:/Program Files/VSTPlugins/CorvelCheck/B/one.dll\"]";
        check(scan(client, "scanVSTs") == one,
              "a plug-in two folders deep in a default folder is found");
        check(scan(client, "scanVSTs C:\\Program Files\\VSTPlugins") == one,
              "a default folder given again as the extra folder is walked once");
        std::filesystem::remove_all(defaultRoot);
    }
}
