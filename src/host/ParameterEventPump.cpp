#include "host/ParameterEventPump.h"

#include <algorithm>
#include <set>

using Vexa::DSP::ParameterEvent;

namespace {

bridge::PluginEvent::Kind kindOf(ParameterEvent::Kind kind) {
    switch (kind) {
        case ParameterEvent::Kind::begin:
            return bridge::PluginEvent::Kind::begin;
        case ParameterEvent::Kind::end:
            return bridge::PluginEvent::Kind::end;
        case ParameterEvent::Kind::setChanged:
            return bridge::PluginEvent::Kind::setChanged;
        case ParameterEvent::Kind::ioChanged:
            return bridge::PluginEvent::Kind::ioChanged;
        case ParameterEvent::Kind::change:
            break;
    }
    return bridge::PluginEvent::Kind::change;
}

// With nothing to do the pump looks for a stop this often.
constexpr int idleWaitMs = 200;

}  // namespace

ParameterEventPump::ParameterEventPump(PluginEventListener& listener, Describe describe)
    : listener(listener), describe(std::move(describe)), pump([this] { run(); }) {}

ParameterEventPump::~ParameterEventPump() {
    stopping.store(true);
    bell.ring();
    pump.join();
}

void ParameterEventPump::onParameterEvent(const ParameterEvent& event) {
    {
        std::lock_guard<std::mutex> lock(outsideMutex);
        outside.push_back(event);
    }
    bell.ring();
}

std::size_t ParameterEventPump::onBlockEvents(const ParameterEvent* events, std::size_t count) {
    const std::size_t written = head.load(std::memory_order_relaxed);
    const std::size_t room = ringSize - (written - tail.load(std::memory_order_acquire));
    const std::size_t taken = std::min(room, count);
    for (std::size_t i = 0; i < taken; ++i) ring[(written + i) % ringSize] = events[i];
    head.store(written + taken, std::memory_order_release);
    if (taken > 0) bell.ring();
    return taken;
}

void ParameterEventPump::takeBatch(std::vector<ParameterEvent>& batch) {
    batch.clear();
    {
        std::lock_guard<std::mutex> lock(outsideMutex);
        batch.swap(outside);
    }
    const std::size_t read = tail.load(std::memory_order_relaxed);
    const std::size_t written = head.load(std::memory_order_acquire);
    for (std::size_t i = read; i != written; ++i) batch.push_back(ring[i % ringSize]);
    tail.store(written, std::memory_order_release);
}

std::vector<ParameterEvent> ParameterEventPump::merged(const std::vector<ParameterEvent>& batch) {
    // From the back: a change is kept if no later change of its parameter
    // comes before that parameter's next touch.
    std::vector<ParameterEvent> kept;
    std::set<int32_t> changedLater;
    bool setChangedLater = false;
    bool ioChangedLater = false;
    for (auto event = batch.rbegin(); event != batch.rend(); ++event) {
        switch (event->kind) {
            case ParameterEvent::Kind::change:
                if (!changedLater.insert(event->index).second) continue;
                break;
            case ParameterEvent::Kind::begin:
            case ParameterEvent::Kind::end:
                changedLater.erase(event->index);
                break;
            case ParameterEvent::Kind::setChanged:
                if (setChangedLater) continue;
                setChangedLater = true;
                break;
            case ParameterEvent::Kind::ioChanged:
                if (ioChangedLater) continue;
                ioChangedLater = true;
                break;
        }
        kept.push_back(*event);
    }
    std::reverse(kept.begin(), kept.end());
    return kept;
}

void ParameterEventPump::run() {
    std::vector<ParameterEvent> batch;
    while (!stopping.load()) {
        bell.wait(idleWaitMs);
        takeBatch(batch);
        for (const ParameterEvent& event : merged(batch)) {
            if (stopping.load()) return;
            bridge::PluginEvent told;
            told.what = kindOf(event.kind);
            told.index = event.index;
            told.value = event.value;
            if (event.kind != ParameterEvent::Kind::setChanged) describe(told);
            listener.pluginEvent(told);
        }
    }
}
