// Files that are no plug-ins, turned away before any of their code runs, in
// both placements of the plug-in.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "HostFixture.h"

using namespace testing_support;
using nlohmann::json;

namespace {

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

void patch(std::string& bytes, std::size_t at, uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// The header of a 32-bit x86 module, as far as it goes before its tables:
// an ELF shared library, or a Windows DLL.
std::string thirtyTwoBitHeader(bool windows) {
    std::string bytes(windows ? 88 : 52, '\0');
    if (windows) {
        bytes.replace(0, 2, "MZ");
        patch(bytes, 60, 64, 4);  // where the PE header begins
        bytes.replace(64, 4, std::string("PE\0\0", 4));
        patch(bytes, 68, 0x14C, 2);   // i386
        patch(bytes, 86, 0x2002, 2);  // an executable DLL
    } else {
        bytes.replace(0, 7,
                      "\x7f"
                      "ELF\x01\x01\x01");  // 32-bit, little-endian
        patch(bytes, 16, 3, 2);            // a shared library
        patch(bytes, 18, 3, 2);            // for i386
    }
    return bytes;
}

class ModuleRefusalTest : public PluginTest, public ::testing::WithParamInterface<const char*> {
protected:
    std::map<std::string, std::string> environment() override {
        auto variables = headlessEnvironment();
        variables["CORVEL_PLUGIN_PLACEMENT"] = GetParam();
        return variables;
    }

    void SetUp() override {
        char pattern[] = "/tmp/corvel-modules-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        folder = pattern;
        PluginTest::SetUp();
    }

    void TearDown() override {
        PluginTest::TearDown();
        std::filesystem::remove_all(folder);
    }

    std::string folder;
};

INSTANTIATE_TEST_SUITE_P(Placements, ModuleRefusalTest,
                         ::testing::Values("own-process", "in-process"));

TEST_P(ModuleRefusalTest, FilesThatAreNoPluginsAreRefusedWithTheirReasonBeforeAnyOfTheirCodeRuns) {
    const bool windows = !ProgramUnderTest::isNative();
    const std::string kind = windows ? "a DLL" : "a shared library";
    // On Windows a 32-bit DLL goes to the 32-bit plug-in process, which
    // finds the header's tables missing; only in process is its word size
    // the refusal.
    const bool narrowHost = windows && std::string(GetParam()) == "own-process";
    writeFile(folder + "/text", "just text\n");
    writeFile(folder + "/narrow", thirtyTwoBitHeader(windows));
    struct Case {
        std::string path, reason, code;
    };
    std::vector<Case> cases = {
        {testPluginPath("test_constructor_only"),
         "not a VST 2 plug-in: it exports neither VSTPluginMain nor main", "not-a-plugin"},
        {folder + "/text", "not " + kind, "not-a-plugin"},
        {folder + "/narrow",
         narrowHost ? "not a DLL: its Windows header is damaged"
         : windows  ? "a 32-bit DLL; this program loads 64-bit plug-ins"
                    : "built for 32-bit x86; this program loads 64-bit plug-ins",
         narrowHost ? "not-a-plugin" : "wrong-architecture"},
        {folder + "/missing", "there is no file at " + folder + "/missing", "not-found"},
        {folder, "a folder, not " + kind, "not-a-plugin"},
        // The control: a module with an entry point is loaded, so its constructor runs.
        {testPluginPath("test_constructor_with_entry"),
         "the plug-in refused to open: its entry point returned no plug-in", "refused"},
    };
    if (!windows) {
        // Opening a FIFO to read it waits for a writer; it must not hold the load.
        ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0600), 0);
        cases.insert(
            cases.begin(),
            {folder + "/fifo", "not a regular file, so not a shared library", "not-a-plugin"});
    }
    WsClient v2;
    v2.offerSubprotocols("corvel.2");
    ASSERT_TRUE(v2.connect(program->port(), 20000) && v2.receiveText(20000));  // past the hello
    for (const auto& [path, reason, code] : cases) {
        SCOPED_TRACE(path);
        // The original protocol sends nothing for a failed load: "getState"
        // answers once it has run. Protocol 2 answers with the code.
        ASSERT_TRUE(client.sendText("load " + path));
        EXPECT_EQ(client.ask("getState", 30000), "state failed");
        EXPECT_TRUE(program->waitForOutput("plug-in not loaded: " + reason + "\n"))
            << program->output();
        const json reply =
            json::parse(v2.ask(json({{"id", 1}, {"op", "load"}, {"path", path}}).dump(), 30000)
                            .value_or("null"),
                        nullptr, false);
        EXPECT_EQ(reply.value("error", json::object()).value("code", ""), code) << reply;
        EXPECT_NE(reply.value("error", json::object()).value("message", "").find(reason.substr(1)),
                  std::string::npos);
    }
    EXPECT_EQ(logCount("constructor of constructor_only"), 0);
    EXPECT_GE(logCount("constructor of constructor_with_entry"), 1);

    // Real plug-ins still load, one without section headers too: the loader
    // needs none, and the dynamic segment names the entry point as well.
    if (!windows) {
        std::ifstream original(testPluginPath("test_gain"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(original)),
                          std::istreambuf_iterator<char>());
        ASSERT_GT(bytes.size(), 64u);
        patch(bytes, 40, 0, 8);  // e_shoff
        patch(bytes, 60, 0, 4);  // e_shnum, e_shstrndx
        writeFile(folder + "/test_gain.so", bytes);
        ASSERT_TRUE(client.sendText("load " + folder + "/test_gain.so"));
        EXPECT_EQ(client.receiveText(10000), "ready");
        EXPECT_EQ(client.receiveText(), "fixedCompensationDelaySamp\n0");
    }
    load("test_gain");
}

}  // namespace
