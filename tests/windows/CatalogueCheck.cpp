// The catalogue on Windows: the program's service with its probe processes
// (corvel-plugin-host.exe --probe, beside this executable, and
// corvel-plugin-host32.exe for a 32-bit DLL), their output read through an
// anonymous pipe, a crash told by its exception and a hang by the time
// limit, and the cache in %LOCALAPPDATA% replaced when a module changes.
//
//   corvel-catalogue-check PLUGIN-DIR [PLUGIN-DIR-32]   (Unix paths of the build tree)
//
// Prints one line per check; exits 0 only when every check passed.
#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>

#include "host/Catalogue.h"
#include "host/CatalogueFiles.h"

namespace fs = std::filesystem;

namespace {

int failures = 0;

void check(bool ok, const std::string& name, const std::string& detail = "") {
    std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", name.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
    failures += ok ? 0 : 1;
}

// Each entry as "status reason" or "ok name", by file name; and the paths read.
struct Listing {
    std::multimap<std::string, std::string> entries;
    std::vector<std::string> read;
};

Listing catalogueOf(const std::string& folder) {
    Catalogue catalogue;
    std::mutex mutex;
    std::condition_variable arrived;
    Listing listing;
    bool done = false;
    catalogue.request(
        folder,
        [&](std::size_t, std::size_t, const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!path.empty()) listing.read.push_back(fs::u8path(path).filename().string());
        },
        [&](const std::vector<CatalogueEntry>& entries) {
        std::lock_guard<std::mutex> lock(mutex);
        for (const CatalogueEntry& entry : entries) {
            const nlohmann::json object = toJson(entry);
            listing.entries.emplace(fs::u8path(entry.path).filename().string(),
                                    object.value("status", "") + " " +
                                        object.value("reason", object.value("name", "")));
        }
        done = true;
        arrived.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    arrived.wait(lock, [&] { return done; });
    return listing;
}

std::string describe(const Listing& listing) {
    std::string text;
    for (const auto& [file, entry] : listing.entries) text += file + ": " + entry + "; ";
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) return 2;
    const auto windowsPath = [](const char* unixPath) {
        std::string path = std::string("Z:") + unixPath;
        for (char& c : path) c = c == '/' ? '\\' : c;
        return fs::path(path);
    };
    const fs::path plugins = windowsPath(argv[1]);
    const fs::path folder = fs::temp_directory_path() / "corvel-catalogue-check";
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const char* kind : {"gain", "shell", "no_entry", "null_write_in_open", "hang_in_open"})
        fs::copy_file(plugins / (std::string("test_") + kind + ".dll"),
                      folder / (std::string(kind) + ".dll"));
    // A shell built for 32 bits: its members are listed as the 64-bit one's
    // (not named shell32.dll, which Windows would take for its own).
    const bool narrow = argc == 3;
    if (narrow) fs::copy_file(windowsPath(argv[2]) / "test_shell.dll", folder / "narrow_shell.dll");
    const fs::path cache = catalogueCacheLocation();
    check(cache.parent_path().filename() == L"Corvel VST Remote", "the cache is in its own folder",
          cache.string());
    fs::remove(cache);

    const Listing first = catalogueOf(folder.u8string());
    std::multimap<std::string, std::string> expected = {
        {"gain.dll", "ok "},
        {"hang_in_open.dll", "hung no answer within 10 s"},
        {"no_entry.dll",
         "not-a-plugin not a VST 2 plug-in: it exports neither VSTPluginMain nor main"},
        {"null_write_in_open.dll", "crashed exception 0xC0000005"},
        {"shell.dll", "ok Shell Member A"},
        {"shell.dll", "ok Shell Member B"}};
    if (narrow)
        expected.insert(
            {{"narrow_shell.dll", "ok Shell Member A"}, {"narrow_shell.dll", "ok Shell Member B"}});
    check(first.entries == expected, "each module listed, with its reason when broken",
          describe(first));
    check(first.read.size() == (narrow ? 6u : 5u), "each module read once");
    check(fs::exists(cache), "the cache is written");

    // A changed module is read again, alone, and the cache replaced.
    fs::last_write_time(folder / "gain.dll",
                        fs::last_write_time(folder / "gain.dll") + std::chrono::seconds(2));
    const std::string stamp =
        "\"modified\": " +
        std::to_string(fs::last_write_time(folder / "gain.dll").time_since_epoch().count());
    const Listing second = catalogueOf(folder.u8string());
    check(second.entries == expected, "the same entries after a change", describe(second));
    check(second.read == std::vector<std::string>{"gain.dll"},
          "only the changed module is read again");
    std::ifstream in(cache, std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    check(saved.find(stamp) != std::string::npos,
          "the cache file is replaced, with the changed module's time", stamp);
    fs::remove_all(folder);
    return failures == 0 ? 0 : 1;
}
