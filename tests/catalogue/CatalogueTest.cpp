// The plug-in catalogue: the real service of the program, its real probe
// processes (corvel-plugin-host --probe, beside this executable) and real
// modules, the test plug-ins and Debian's.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../support/RealCrashes.h"
#include "dsp/VST2Plugin.h"
#include "host/Catalogue.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Progress {
    std::size_t done, total;
    std::string path;
};

// One request's progress and entries (as the program sends them).
struct Answer {
    Answer() {}  // not noexcept: the members may throw as they are made
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Progress> progress;
    json entries;
    bool done = false;

    bool wait(int seconds) {
        std::unique_lock<std::mutex> lock(mutex);
        return arrived.wait_for(lock, std::chrono::seconds(seconds), [&] { return done; });
    }
};

void ask(Catalogue& catalogue, const std::string& folder, Answer& answer) {
    catalogue.request(
        folder,
        [&answer](std::size_t done, std::size_t total, const std::string& path) {
        std::lock_guard<std::mutex> lock(answer.mutex);
        answer.progress.push_back({done, total, path});
        },
        [&answer](const std::vector<CatalogueEntry>& entries) {
        std::lock_guard<std::mutex> lock(answer.mutex);
        answer.entries = json::array();
        for (const CatalogueEntry& entry : entries) answer.entries.push_back(toJson(entry));
        answer.done = true;
        answer.arrived.notify_all();
    });
}

std::string fileName(const json& entry) {
    return fs::path(entry.value("path", "")).filename().string();
}

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/corvel-catalogue-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root = name;
        cacheFile = root / "cache" / "catalogue.json";
        pluginLog = root / "plugin-log";
        setenv("CORVEL_TEST_PLUGIN_LOG", pluginLog.c_str(), 1);
    }
    static void SetUpTestSuite() {
        for (const auto& [name, value] : realCrashVariables())
            setenv(name.c_str(), value.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("CORVEL_TEST_PLUGIN_LOG");
        unsetenv("VST_PATH");
        fs::remove_all(root);
    }

    json catalogueOf(const std::string& folder, std::vector<Progress>* progress = nullptr) {
        Catalogue catalogue(Catalogue::Options{cacheFile});
        Answer answer;
        ask(catalogue, folder, answer);
        EXPECT_TRUE(answer.wait(120));
        if (progress) *progress = answer.progress;
        return answer.entries;
    }
    // How many times the test plug-ins' entry points ran since the last call.
    int entriesRun() {
        std::ifstream in(pluginLog);
        int count = 0;
        for (std::string line; std::getline(in, line);) count += line.rfind("entry ", 0) == 0;
        in.close();
        fs::remove(pluginLog);
        return count;
    }

    fs::path root, cacheFile, pluginLog;
};

// A folder of test plug-ins of every kind, alone on the plug-in path: read
// once in probe processes, both askers served by that one scan, then from
// the cache, then again only where a file changed, and whole again after
// the cache file was damaged.
TEST_F(CatalogueTest, ReadsEachModuleOnceAndKeepsItUntilItChanges) {
    const fs::path folder = root / "plugins";
    fs::create_directories(folder);
    for (const char* kind : {"gain", "synth", "shell", "no_entry", "null_write_in_open",
                             "exit_in_open", "hang_in_open"})
        fs::copy_file(fs::path(CORVEL_TEST_PLUGIN_DIR) / (std::string("test_") + kind + ".so"),
                      folder / (std::string(kind) + ".so"));
    std::ofstream(folder / "text.so") << "not a module\n";
    setenv("VST_PATH", (root / "nothing").c_str(), 1);

    // Two askers at once.
    json entries;
    std::vector<Progress> progress;
    {
        Catalogue catalogue(Catalogue::Options{cacheFile});
        Answer first, second;
        ask(catalogue, folder.string(), first);
        ask(catalogue, folder.string(), second);
        ASSERT_TRUE(first.wait(60) && second.wait(60));
        EXPECT_EQ(first.entries, second.entries);
        // Served by one scan, the second asker is told of modules being read
        // (all but those read before it joined); served by a scan of its
        // own after the first, it would find them all in the cache.
        EXPECT_GT(std::count_if(second.progress.begin(), second.progress.end(),
                                [](const Progress& step) { return !step.path.empty(); }),
                  0);
        entries = first.entries;
        progress = first.progress;
    }
    EXPECT_EQ(entriesRun(), 6 + 2) << "each entry point once, and once more per shell member";

    std::map<std::string, json> byName;
    for (const json& entry : entries)
        byName[entry.value("name", "").empty() ? fileName(entry) : entry.value("name", "")] = entry;
    ASSERT_EQ(entries.size(), 9u) << entries.dump(1);
    EXPECT_EQ(byName["gain.so"].value("status", ""), "ok");
    EXPECT_EQ(byName["gain.so"].value("uniqueId", 0), 0x43765473);
    EXPECT_EQ(byName["gain.so"].value("inputs", 0), 2);
    EXPECT_EQ(byName["synth.so"].value("category", ""), "instrument");
    EXPECT_EQ(byName["synth.so"].value("midiIn", false), true);
    EXPECT_EQ(byName["synth.so"].value("inputs", -1), 0);
    EXPECT_EQ(byName["Shell Member A"].value("uniqueId", 0), 0x53684131);
    EXPECT_EQ(byName["Shell Member B"].value("uniqueId", 0), 0x53684232);
    EXPECT_EQ(fileName(byName["Shell Member B"]), "shell.so");
    EXPECT_EQ(byName["Shell Member B"].value("category", ""), "effect")
        << "the member, not the shell";
    const std::vector<std::pair<std::string, std::string>> broken = {
        {"no_entry.so",
         "not-a-plugin: not a VST 2 plug-in: it exports neither VSTPluginMain nor main"},
        {"text.so", "not-a-plugin: not a shared library"},
        {"null_write_in_open.so", "crashed: signal 11"},
        {"exit_in_open.so", "crashed: exit 3"},
        {"hang_in_open.so", "hung: no answer within 10 s"}};
    for (const auto& [name, expected] : broken)
        EXPECT_EQ(byName[name].value("status", "") + ": " + byName[name].value("reason", ""),
                  expected)
            << name;

    // Progress: the walk's count first, then one per module read.
    ASSERT_EQ(progress.size(), 1u + 8u);
    EXPECT_EQ(progress.front().done, 0u);
    EXPECT_EQ(progress.front().path, "");
    for (std::size_t i = 1; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].done, i);
        EXPECT_EQ(progress[i].total, 8u);
        EXPECT_EQ(fs::path(progress[i].path).parent_path(), folder);
    }

    // From the cache: nothing is loaded, not even what crashed or hung.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(catalogueOf(folder.string(), &progress), entries);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(entriesRun(), 0);
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress.front().done, 8u);

    // A changed file is read again, and only that one.
    fs::last_write_time(folder / "gain.so",
                        fs::last_write_time(folder / "gain.so") + std::chrono::seconds(2));
    EXPECT_EQ(catalogueOf(folder.string(), &progress), entries);
    EXPECT_EQ(entriesRun(), 1);
    ASSERT_EQ(progress.size(), 2u);
    EXPECT_EQ(progress.back().path, (folder / "gain.so").string());

    // A damaged cache is set aside and rebuilt.
    std::ofstream(cacheFile, std::ios::trunc) << "{\"format\": 1, \"modules\": [{\"path\": ";
    EXPECT_EQ(catalogueOf(folder.string()), entries);
    EXPECT_EQ(entriesRun(), 6 + 2);
    std::ifstream aside(cacheFile.string() + ".damaged");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aside), {}),
              "{\"format\": 1, \"modules\": [{\"path\": ");
    std::ifstream rebuilt(cacheFile);
    EXPECT_FALSE(json::parse(rebuilt, nullptr, false).is_discarded());
    EXPECT_EQ(catalogueOf(folder.string()), entries);
    EXPECT_EQ(entriesRun(), 0);
}

// Each Debian module of the compatibility suite listed with its name;
// LSP's shared code, which is no plug-in, with the reason.
TEST_F(CatalogueTest, ListsTheDebianPluginsByName) {
    std::vector<std::string> modules;
    FILE* pipe =
        popen("dpkg -L dpf-plugins-vst dragonfly-reverb-vst lsp-plugins-vst amsynth 2>/dev/null"
              " | grep -E '/(lx)?vst/.*\\.so$' | sort",
              "r");
    for (char line[4096]; pipe && std::fgets(line, sizeof line, pipe);)
        modules.emplace_back(line, std::strlen(line) - 1);
    if (pipe) pclose(pipe);
    if (modules.size() < 100) GTEST_SKIP() << "the Debian plug-in packages are not installed";
    setenv("VST_PATH", "/usr/lib/vst:/usr/lib/lxvst", 1);

    std::map<std::string, std::vector<json>> byPath;
    for (const json& entry : catalogueOf("")) byPath[entry.value("path", "")].push_back(entry);
    const std::regex library(".*/lsp-plugins-vst2-[^/]*\\.so");
    for (const std::string& module : modules) {
        ASSERT_EQ(byPath[module].size(), 1u) << module;
        const json& entry = byPath[module].front();
        if (std::regex_match(module, library)) {
            EXPECT_EQ(entry.value("status", ""), "not-a-plugin") << entry;
            EXPECT_EQ(entry.value("reason", ""),
                      "not a VST 2 plug-in: it exports neither VSTPluginMain nor main")
                << entry;
            continue;
        }
        EXPECT_EQ(entry.value("status", ""), "ok") << entry;
        EXPECT_NE(entry.value("name", ""), "") << entry;
        EXPECT_NE(entry.value("vendor", ""), "") << entry;
        EXPECT_NE(entry.value("uniqueId", 0), 0) << entry;
        EXPECT_GT(entry.value("outputs", 0), 0) << entry;
    }
}

// A shell member is built by its id when a load names it.
TEST_F(CatalogueTest, LoadsAShellMemberByItsId) {
    Vexa::DSP::VST2Plugin plugin(48000, 64);
    ASSERT_TRUE(
        plugin.load(std::string(CORVEL_TEST_PLUGIN_DIR) + "/test_shell.so", nullptr, 0x53684232)
            .ok);
    std::ifstream in(pluginLog);
    std::stringstream log;
    log << in.rdbuf();
    EXPECT_NE(log.str().find("currentId 1399341618"), std::string::npos) << log.str();
}

}  // namespace
