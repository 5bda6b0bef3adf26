// A plug-in process that breaks the rules on command, to show that the
// program does not trust its plug-in processes. It speaks the real protocol
// (halving every block, like the gain test plug-in) until a load names a
// misdeed: "hostile:shrink", "hostile:flood", "hostile:oversized",
// "hostile:bad-result" or "hostile:bad-ticket".
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <string>
#include <thread>

#include "bridge/BlockSignal.h"
#include "bridge/CommandPipe.h"
#include "bridge/LaunchContract.h"
#include "bridge/PluginMessages.h"
#include "bridge/SharedRegion.h"

using namespace bridge;

namespace {

std::atomic<bool> badResult{false};
std::atomic<bool> badTicket{false};

[[noreturn]] void runBlocks(SharedRegion& region) {
    SharedBlock& block = region.block();
    SpinBudget spin;
    uint32_t seen = block.reply.load(std::memory_order_acquire);
    for (;;) {
        const uint32_t ticket = awaitChange(block.request, seen, 1000, spin);
        if (ticket == seen) continue;
        seen = ticket;
        const uint32_t frames = block.frames < maxFrames ? block.frames : maxFrames;
        for (uint32_t c = 0; c < 2; ++c)
            for (uint32_t i = 0; i < frames; ++i) region.output(c)[i] = 0.5f * region.input(c)[i];
        block.result = badResult ? 77 : 2;
        block.reply.store(badTicket ? ticket + 1000 : ticket, std::memory_order_release);
        wakeWaiters(block.reply);
    }
}

// Does the misdeed; false when the load is to be answered as usual.
bool misbehave(const std::string& misdeed, CommandPipe& pipe, int commandHandle, int region) {
    badResult = misdeed == "bad-result";
    badTicket = misdeed == "bad-ticket";
    if (misdeed == "shrink") {
        // Sealed, the region keeps its size and the program never notices.
        (void)ftruncate(region, 0);
    } else if (misdeed == "flood") {
        const std::string junk(1 << 20, 'x');
        for (int i = 0; i < 1500; ++i)
            if (!pipe.send(static_cast<uint32_t>(MessageKind::loadResult), junk.data(),
                           junk.size()))
                break;
        return true;
    } else if (misdeed == "oversized") {
        // A header announcing more than the program may take, and no body.
        const uint32_t header[2] = {static_cast<uint32_t>(MessageKind::loadResult), 0xFFFFFFF0u};
        return write(commandHandle, header, sizeof header) == sizeof header;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const auto launch = parseLaunch(argc, argv);
    if (!launch) return 2;
    auto region = SharedRegion::attach(launch->regionHandle);
    if (!region) return 1;
    std::thread([&region] { runBlocks(*region); }).detach();
    CommandPipe pipe(launch->commandHandle);
    const std::string prefix = "hostile:";
    PipeMessage message;
    while (pipe.receive(message, -1) == CommandPipe::Read::message) {
        if (const auto load = decodeAs<LoadRequest>(message)) {
            if (load->path.rfind(prefix, 0) == 0 &&
                misbehave(load->path.substr(prefix.size()), pipe, launch->commandHandle,
                          launch->regionHandle))
                continue;
            LoadResult loaded;
            loaded.ok = true;
            send(pipe, loaded);
        } else if (message.kind == static_cast<uint32_t>(MessageKind::getState)) {
            send(pipe, StateResult{});
        } else {
            send(pipe, Done{});
        }
    }
    std::_Exit(0);
}
