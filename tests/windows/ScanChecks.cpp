// "scanVSTs" against real folders: the extra folder, a default folder, names
// that must and must not match, a name beyond the basic multilingual plane,
// and a folder link that leads back to its own ancestor.
#include <algorithm>
#include <string>
#include <vector>

#include "CheckSupport.h"

namespace {

void makeFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// Removes a folder tree without following links into other folders.
void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                removeTree(path);
            } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryW(path.c_str());
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(listing, &entry));
        FindClose(listing);
    }
    RemoveDirectoryW(folder.c_str());
}

// The quoted entries of a reply, or nothing when it is not of the form ["a","b"].
bool splitReply(const std::string& reply, std::vector<std::string>& entries) {
    entries.clear();
    if (reply == "[]") return true;
    if (reply.size() < 4 || reply.compare(0, 2, "[\"") != 0 || reply.compare(reply.size() - 2, 2, "\"]") != 0)
        return false;
    const std::string body = reply.substr(2, reply.size() - 4);
    size_t start = 0;
    while (true) {
        const size_t next = body.find("\",\"", start);
        entries.push_back(body.substr(start, next == std::string::npos ? std::string::npos : next - start));
        if (next == std::string::npos) return true;
        start = next + 3;
    }
}

std::string slashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string scan(WsClient& client, const std::string& command) {
    client.sendText(command);
    const WsMessage reply = client.receive(kReplyMs);
    return reply.opcode == 1 ? reply.data : "<no text reply>";
}

std::string joined(std::vector<std::string> entries) {
    std::string text;
    for (const std::string& entry : entries) text += "\n  " + entry;
    return text;
}

}  // namespace

void scanChecks(const Options& options) {
    // The tree under the scan root; its "loop\up" link back to the root is
    // made beforehand from the Unix side.
    const std::wstring root = windowsPath(options.scanRoot);
    const std::string rootText = slashes(narrow(root));
    CreateDirectoryW((root + L"\\Effects.dll").c_str(), nullptr);
    CreateDirectoryW((root + L"\\A").c_str(), nullptr);
    CreateDirectoryW((root + L"\\A\\B").c_str(), nullptr);
    CreateDirectoryW((root + L"\\loop").c_str(), nullptr);
    makeFile(root + L"\\a.dll");
    makeFile(root + L"\\Synth.DLL");
    makeFile(root + L"\\Synthdll");
    makeFile(root + L"\\.hidden.dll");
    makeFile(root + L"\\notes.txt");
    makeFile(root + L"\\Effects.dll\\inner.dll");
    makeFile(root + L"\\A\\B\\deep.dll");
    makeFile(root + L"\\loop\\in-loop.dll");
    makeFile(root + L"\\\U0001F3B9 keys.dll");
    check(GetFileAttributesW((root + L"\\loop\\up").c_str()) != INVALID_FILE_ATTRIBUTES,
          "the scan tree has its link back to the root");

    // One default folder, removed again at the end.
    const std::wstring defaultRoot = L"C:\\Program Files\\VSTPlugins";
    const bool hadDefault = GetFileAttributesW(defaultRoot.c_str()) != INVALID_FILE_ATTRIBUTES;
    const std::wstring defaultTree = defaultRoot + L"\\CorvelCheck";

    ChildProgram program;
    WsClient client;
    if (!startAndConnect(options, program, client, "scan")) return;
    client.receive(kReplyMs);  // banner

    check(!hadDefault && scan(client, "scanVSTs") == "[]", "with no plug-in folders the reply is \"[]\"");

    std::vector<std::string> entries;
    const std::string reply = scan(client, "scanVSTs " + narrow(root));
    const bool wellFormed = splitReply(reply, entries);
    check(wellFormed, "the reply is a bracketed list of quoted paths", quoted(reply));
    std::vector<std::string> expected = {
        rootText + "/a.dll",
        rootText + "/Synthdll",
        rootText + "/.hidden.dll",
        rootText + "/Effects.dll/inner.dll",
        rootText + "/A/B/deep.dll",
        rootText + "/loop/in-loop.dll",
        rootText + "/\xF0\x9F\x8E\xB9 keys.dll",
    };
    std::sort(entries.begin(), entries.end());
    std::sort(expected.begin(), expected.end());
    check(entries == expected,
          "the extra folder's tree yields every name ending in \"dll\" once, with forward slashes",
          "got" + joined(entries) + "\nexpected" + joined(expected));
    check(reply.find("\xF0\x9F\x8E\xB9") != std::string::npos,
          "a character beyond the basic multilingual plane comes out as one 4-byte UTF-8 sequence");

    // Exact replies for a folder with one plug-in.
    check(scan(client, "scanVSTs " + narrow(root) + "\\A") == "[\"" + rootText + "/A/B/deep.dll\"]",
          "a sub-folder's reply is exact");
    check(scan(client, "scanVSTs " + narrow(root) + "\\A\\") == "[\"" + rootText + "/A//B/deep.dll\"]",
          "an extra folder with a trailing backslash gives a doubled slash");
    check(scan(client, "scanVSTs " + narrow(root) + "\\missing") == "[]", "a missing extra folder gives \"[]\"");
    check(scan(client, "scanVSTs \xC3\x28") == "[]", "an extra folder that is not UTF-8 is skipped");
    check(scan(client, "scanVSTs") == "[]", "the connection stays open after a folder that is not UTF-8");

    if (!hadDefault) {
        CreateDirectoryW(defaultRoot.c_str(), nullptr);
        CreateDirectoryW(defaultTree.c_str(), nullptr);
        CreateDirectoryW((defaultTree + L"\\B").c_str(), nullptr);
        makeFile(defaultTree + L"\\B\\one.dll");
        check(scan(client, "scanVSTs") == "[\"C:/Program Files/VSTPlugins/CorvelCheck/B/one.dll\"]",
              "a plug-in two folders deep in a default folder is found");
        const std::string both = scan(client, "scanVSTs C:\\Program Files\\VSTPlugins");
        check(both == "[\"C:/Program Files/VSTPlugins/CorvelCheck/B/one.dll\"]",
              "a default folder given again as the extra folder is walked once", quoted(both));
        removeTree(defaultRoot);
    }
    client.sendText("quit");
    DWORD code = 99;
    check(program.waitForExit(kStartMs, code) && code == 0, "scan: \"quit\" ends the program with status 0");
}
