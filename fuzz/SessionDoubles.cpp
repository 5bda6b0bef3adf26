#include "fuzz/SessionDoubles.h"

#include "bridge/PluginMessages.h"
#include "host/PluginPlacement.h"
#include "scan/PluginScan.h"

namespace {

// Records every call. A load of any path but the empty one succeeds at
// once, with the path's length as latency; the state is the loaded path.
// Blocks are halved over every frame of the size the session passes, so
// staging smaller than that is caught by the address sanitizer.
class RecordingSlot final : public PluginSlot {
public:
    RecordingSlot(SlotListener& listener, SlotJournal& journal, uint32_t blockSize)
        : listener(listener), journal(journal) {
        journal.frames = blockSize;
    }

    void requestLoad(std::string path, std::optional<int32_t>) override {
        note("requestLoad");
        journal.plugin = !path.empty();
        journal.loadPath = path;
        if (!journal.plugin) return;
        bridge::LoadResult loaded;
        loaded.ok = true;
        loaded.latency = static_cast<int32_t>(path.size());
        listener.pluginLoaded(loaded);
    }
    void requestUnload() override {
        note("requestUnload");
        journal.plugin = false;
    }
    void unloadAndWait() override {
        note("unloadAndWait");
        journal.plugin = false;
    }
    void requestEditor() override { note("requestEditor"); }
    void requestState() override {
        note("requestState");
        if (!journal.plugin) return;
        bridge::StateResult state;
        state.ok = true;
        state.blob = journal.loadPath;
        listener.pluginState(state);
    }
    void requestRestore(const uint8_t* data, std::size_t size) override {
        note("requestRestore");
        journal.restored.assign(data, data + size);
    }
    void setBlockSize(uint32_t frames) override {
        note("setBlockSize");
        journal.frames = frames;
    }
    void setSampleRate(uint32_t rate) override {
        note("setSampleRate");
        journal.sampleRate = rate;
    }
    void suspend() override {
        note("suspend");
        journal.suspended = true;
    }
    void resume() override {
        note("resume");
        journal.suspended = false;
    }
    void queueMidi(const int32_t* words, std::size_t count) override {
        note("queueMidi");
        std::array<int32_t, 4> event{};
        for (std::size_t i = 0; i < count && i < 4; ++i) event[i] = words[i];
        journal.midi.push_back(event);
        journal.midiCounts.push_back(count);
    }
    // Taken in, unrecorded: the dispatcher's checks are of the calls above.
    void setLayout(const bridge::ChannelLayout& chosen) override { layout = chosen; }
    void setOffline(bool) override {}
    void queueParameter(uint32_t, int32_t, float) override {}
    void queueTransport(const Vexa::DSP::Transport&) override {}
    std::vector<bridge::ParameterInfo> parameters() override {
        return std::vector<bridge::ParameterInfo>(journal.plugin ? 2 : 0);
    }
    std::optional<std::string> parameterDisplay(int32_t index, float) override {
        if (!journal.plugin || index > 1) return std::nullopt;
        return std::string("\xff");  // not UTF-8, as plug-ins' texts may be
    }
    bool setParameter(int32_t index, float) override { return journal.plugin && index <= 1; }
    std::optional<bridge::ProgramsResult> programs() override {
        if (!journal.plugin) return std::nullopt;
        return bridge::ProgramsResult{};
    }
    bool setProgram(int32_t) override { return false; }
    bool setProgramName(const std::string&) override { return journal.plugin; }
    const bridge::MidiOut& midiOut() const override { return *outgoing; }
    bool hasPlugin() override { return journal.plugin; }
    // Every channel of the layout each way, so staging smaller than the
    // layout is caught too; and one SysEx out to carry back.
    Block process(const float* const* inputs, float* const* outputs, uint32_t frames) override {
        note("process");
        journal.processedFrames = frames;
        for (uint32_t c = 0; c < layout.outputs; ++c)
            for (uint32_t i = 0; i < frames; ++i)
                outputs[c][i] = 0.5f * inputs[c % layout.inputs][i];
        outgoing->clear();
        const uint8_t sysex[5] = {0xF0, 0x7D, 0x01, 0x02, 0xF7};
        outgoing->add(frames, sysex, sizeof sysex);
        if (!journal.plugin) return Block::noPlugin;
        return journal.suspended ? Block::bypassed : Block::processed;
    }
    bool hasOpenEditor() const override { return false; }
    void idleEditor() override {}
    void closeEditor() override {}
    bool unloadsOnGuiThread() const override { return false; }
    void unload() override {}

private:
    void note(const char* call) { journal.calls.emplace_back(call); }

    SlotListener& listener;
    SlotJournal& journal;
    bridge::ChannelLayout layout;
    std::unique_ptr<bridge::MidiOut> outgoing = std::make_unique<bridge::MidiOut>();
};

}  // namespace

std::string fuzzScanReply(const std::string& folder) {
    return "scanned:" + folder;
}

// ---- the real program's functions, replaced ----------------------------------

PluginPlacement placementFromEnvironment() {
    return PluginPlacement::inProcess;
}

std::shared_ptr<PluginSlot> makePluginSlot(PluginPlacement, GuiThread& gui, SlotListener& listener,
                                           uint32_t, uint32_t blockSize) {
    return std::make_shared<RecordingSlot>(listener, static_cast<FuzzGui&>(gui).journal, blockSize);
}

std::string scanReply(const std::string& extraFolder, const std::atomic<bool>&) {
    return fuzzScanReply(extraFolder);
}

// The original protocol never asks for a catalogue; were it asked, it
// would find nothing to read.
std::vector<std::string> findPluginFiles(const std::string&, const std::atomic<bool>&) {
    return {};
}
