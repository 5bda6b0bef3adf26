// Parameters, programs and their state through the real program and its
// plug-in process, with a test plug-in whose output is its input times its
// gain (parameter 0), so each change is heard on its frame.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Protocol2Fixture.h"

using namespace testing_support;
using nlohmann::json;

namespace {

constexpr uint32_t longBlock = 256;

std::string parameterRecord(uint32_t frame, int32_t index, float value) {
    uint8_t record[16] = {2, 0, 12, 0};
    std::memcpy(record + 4, &frame, 4);
    std::memcpy(record + 8, &index, 4);
    std::memcpy(record + 12, &value, 4);
    return std::string(reinterpret_cast<const char*>(record), sizeof record);
}

class ParametersTest : public Protocol2Test {
protected:
    void SetUp() override {
        Protocol2Test::SetUp();
        ASSERT_EQ(ask({{"op", "configure"}, {"blockSize", longBlock}}).value("blockSize", 0u),
                  longBlock);
    }

    void loadParameters() {
        const json loaded = ask({{"op", "load"}, {"path", testPluginPath("test_parameters")}});
        ASSERT_TRUE(loaded.value("ok", false)) << loaded;
        EXPECT_EQ(loaded.value("parameters", 0), 4);
        EXPECT_EQ(loaded.value("programs", 0), 3);
    }

    // The left channel of the reply to a block of ones with these records.
    std::vector<float> heard(const std::string& records = {}) {
        const std::string block = blockOf(longBlock, records, 1.0f, 1.0f);
        const std::string bytes = v2.sendBinary(block) ? next(2).value_or("") : "";
        if (bytes.size() != 16 + 8 * longBlock) return {};
        std::vector<float> left(longBlock);
        std::memcpy(left.data(), bytes.data() + 16, 4 * longBlock);
        return left;
    }

    json parameter(int index) { return ask({{"op", "parameters"}})["parameters"][index]; }

    // The parameter events of the log, as "gesture index" or "value index display".
    std::vector<std::string> parameterEvents() {
        std::vector<std::string> told;
        for (const json& event : eventLog) {
            if (event.value("event", "") != "parameter") continue;
            told.push_back(event.contains("gesture")
                               ? event.value("gesture", "") + " " + event["index"].dump()
                               : "value " + event["index"].dump() + " " +
                                     event.value("display", ""));
        }
        return told;
    }
};

void expectRuns(const std::vector<float>& left,
                const std::vector<std::pair<uint32_t, float>>& runs) {
    ASSERT_EQ(left.size(), longBlock);
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const uint32_t end = r + 1 < runs.size() ? runs[r + 1].first : longBlock;
        for (uint32_t i = runs[r].first; i < end; ++i)
            ASSERT_FLOAT_EQ(left[i], runs[r].second) << "frame " << i;
    }
}

}  // namespace

TEST_F(ParametersTest, ListedSetProbedAndRecordedChangesLandOnTheirFrames) {
    expectError(ask({{"op", "parameters"}}), "no-plugin");
    loadParameters();
    const json list = ask({{"op", "parameters"}});
    ASSERT_EQ(list["parameters"].size(), 4u) << list;
    const json& gain = list["parameters"][0];
    EXPECT_EQ(gain.value("name", ""), "Gain");
    EXPECT_EQ(gain.value("label", ""), "%");
    EXPECT_EQ(gain.value("display", ""), "100.0");
    EXPECT_EQ(gain.value("value", 0.0), 1.0);
    EXPECT_TRUE(gain.value("automatable", false));
    EXPECT_EQ(gain.value("steps", -1), 0);
    const json& mode = list["parameters"][1];
    EXPECT_TRUE(mode.value("switch", false));
    EXPECT_EQ(mode.value("steps", 0), 2);
    EXPECT_EQ(mode.value("category", ""), "Shape");
    const json& steps = list["parameters"][2];
    EXPECT_TRUE(steps.value("integer", false));
    EXPECT_EQ(steps.value("max", 0), 4);
    EXPECT_EQ(steps.value("steps", 0), 5);
    EXPECT_FALSE(list["parameters"][3].value("automatable", true));

    EXPECT_TRUE(ask({{"op", "setParameter"}, {"index", 0}, {"value", 0.5}}).value("ok", false));
    expectError(ask({{"op", "setParameter"}, {"index", 9}, {"value", 0.5}}), "bad-request");
    expectError(ask({{"op", "setParameter"}, {"index", 0}, {"value", 1.5}}), "bad-request");
    // The probe shows a value's text and leaves the plug-in, and its sound, alone.
    EXPECT_EQ(ask({{"op", "parameterDisplay"}, {"index", 0}, {"value", 0.9}}).value("display", ""),
              "90.0");
    EXPECT_EQ(parameter(0).value("display", ""), "50.0");
    expectRuns(heard(), {{0, 0.5f}});

    // Changes in a block land on their frames, none closer than 32 frames
    // to a piece's start or the block's end; MIDI still reaches its piece
    // (key 101 makes the plug-in report a change of the whole set).
    const std::string records = parameterRecord(160, 0, 0.75f) + parameterRecord(0, 0, 0.25f) +
                                parameterRecord(64, 0, 0.5f) + parameterRecord(80, 0, 0.6f) +
                                parameterRecord(240, 0, 0.9f) + midiRecord(100, 101);
    expectRuns(heard(records), {{0, 0.25f}, {64, 0.6f}, {160, 0.75f}, {224, 0.9f}});
    EXPECT_TRUE(
        awaitEvent([](const json& e) { return e.value("event", "") == "parametersChanged"; }));
    expectRuns(heard(), {{0, 0.9f}});
}

TEST_F(ParametersTest, ProgramsSwitchByNameAndAStateWithoutChunkKeepsTheValues) {
    loadParameters();
    const json programs = ask({{"op", "programs"}});
    EXPECT_EQ(programs["programs"], json({"Unity", "Half", "Quiet"})) << programs;
    EXPECT_EQ(programs.value("current", -1), 0);
    eventLog.clear();
    EXPECT_TRUE(ask({{"op", "setProgram"}, {"index", 2}}).value("ok", false));
    EXPECT_TRUE(
        awaitEvent([](const json& e) { return e.value("event", "") == "parametersChanged"; }));
    expectError(ask({{"op", "setProgram"}, {"index", 3}}), "bad-request");
    EXPECT_TRUE(ask({{"op", "setProgramName"}, {"name", "Mine"}}).value("ok", false));
    const json renamed = ask({{"op", "programs"}});
    EXPECT_EQ(renamed["programs"], json({"Unity", "Half", "Mine"})) << renamed;
    EXPECT_EQ(renamed.value("current", -1), 2);
    expectRuns(heard(), {{0, 0.1f}});

    // Kept as values and program, and given back after they changed.
    ASSERT_TRUE(ask({{"op", "setParameter"}, {"index", 1}, {"value", 1.0}}).value("ok", false));
    const json state = ask({{"op", "getState"}});
    EXPECT_EQ(state.value("format", ""), "parameters") << state;
    const auto blob = v2.receiveBinary(10000);
    ASSERT_TRUE(blob.has_value());
    EXPECT_EQ(blob->size(), state.value("bytes", 0u));
    EXPECT_EQ(blob->compare(0, 8, "CVPARAM1"), 0);
    ask({{"op", "setProgram"}, {"index", 0}});
    ask({{"op", "setParameter"}, {"index", 1}, {"value", 0.0}});
    ASSERT_TRUE(
        v2.sendText(json({{"id", ++lastId}, {"op", "setState"}, {"bytes", blob->size()}}).dump()));
    ASSERT_TRUE(v2.sendBinary(*blob));
    EXPECT_TRUE(nextReply().value("ok", false));
    EXPECT_EQ(ask({{"op", "programs"}}).value("current", -1), 2);
    EXPECT_EQ(parameter(1).value("display", ""), "On");
    expectRuns(heard(), {{0, 0.1f}});
}

TEST_F(ParametersTest, MovesOfItsOwnReachTheClientMergedPerBlockWithEveryTouch) {
    loadParameters();
    // From its audio thread (key 100): touch, three values in one block, let go.
    expectRuns(heard(midiRecord(0, 100)), {{0, 0.6f}});
    ASSERT_TRUE(awaitEvent([](const json& e) { return e.value("gesture", "") == "end"; }));
    EXPECT_EQ(parameterEvents(), (std::vector<std::string>{"begin 0", "value 0 60.0", "end 0"}));
    const auto value = std::find_if(eventLog.begin(), eventLog.end(), [](const json& e) {
        return e.contains("value") && !e.contains("gesture");
    });
    ASSERT_NE(value, eventLog.end());
    EXPECT_FLOAT_EQ(value->value("value", 0.0f), 0.6f);
}

// The editor's moves need an editor, so a display.
class EditorMovesTest : public ParametersTest {
protected:
    std::map<std::string, std::string> environment() override {
        moves = std::filesystem::temp_directory_path() /
                ("corvel-moves-" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        return {{"CORVEL_TEST_EDITOR_MOVES", moves.string()}};
    }
    void TearDown() override {
        std::filesystem::remove(moves);
        ParametersTest::TearDown();
    }
    std::filesystem::path moves;
};

TEST_F(EditorMovesTest, MovesInTheEditorReachTheClientWithTheirTouches) {
    if (ProgramUnderTest::isNative() && !std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display";
    loadParameters();
    EXPECT_TRUE(ask({{"op", "showEditor"}}).value("ok", false));
    std::ofstream(moves) << "1 1\n2 0.75\n";
    ASSERT_TRUE(awaitEvent([](const json& e) {
        return e.value("gesture", "") == "end" && e.value("index", 0) == 2;
    })) << "the editor's moves never came";
    EXPECT_EQ(parameterEvents(), (std::vector<std::string>{"begin 1", "value 1 On", "end 1",
                                                           "begin 2", "value 2 3", "end 2"}));
}

TEST_F(ParametersTest, ARelaunchBringsBackTheProgramAndEveryValueChangedSince) {
    loadParameters();
    ASSERT_TRUE(ask({{"op", "setProgram"}, {"index", 1}}).value("ok", false));
    ASSERT_TRUE(ask({{"op", "setParameter"}, {"index", 1}, {"value", 1.0}}).value("ok", false));
    heard(parameterRecord(0, 2, 0.5f));
    // Gain moved by the plug-in itself, from its audio thread: 0.6.
    expectRuns(heard(midiRecord(0, 100)), {{0, 0.6f}});
    ASSERT_TRUE(awaitEvent([](const json& e) { return e.value("gesture", "") == "end"; }));
    for (int crash = 1; crash <= 2; ++crash) {
        eventLog.clear();
        heard(midiRecord(0, 102));
        ASSERT_TRUE(awaitEvent([](const json& e) { return e.value("event", "") == "relaunched"; }))
            << "crash " << crash;
        EXPECT_EQ(ask({{"op", "programs"}}).value("current", -1), 1) << "crash " << crash;
        const json list = ask({{"op", "parameters"}})["parameters"];
        EXPECT_EQ(list[0].value("display", ""), "60.0") << "crash " << crash;
        EXPECT_EQ(list[1].value("display", ""), "On") << "crash " << crash;
        EXPECT_EQ(list[2].value("display", ""), "2") << "crash " << crash;
        expectRuns(heard(), {{0, 0.6f}});
    }
}
