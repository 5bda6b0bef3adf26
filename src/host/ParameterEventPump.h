// Carries what a plug-in reports about its parameters from the thread it
// reports on to a PluginEventListener, on a thread of its own. The audio
// thread hands its block's events over through a ring, with no lock and no
// allocation, and rings once; the listener may take its time (read the
// display text, format, write to a socket) without holding up a block.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "bridge/Doorbell.h"
#include "dsp/ParameterEvents.h"
#include "host/PluginEventListener.h"

class ParameterEventPump final : public Vexa::DSP::ParameterEventListener {
public:
    // How many events wait for the pump at most; a block's events that do
    // not fit wait in the plug-in's own list for the next block.
    static constexpr std::size_t ringSize = 1024;

    // describe fills in what the plug-in shows now (the value of a touched
    // parameter, the display text of any), on the pump's thread.
    using Describe = std::function<void(bridge::PluginEvent&)>;

    ParameterEventPump(PluginEventListener& listener, Describe describe);
    // Events not yet delivered are dropped.
    ~ParameterEventPump();
    ParameterEventPump(const ParameterEventPump&) = delete;
    ParameterEventPump& operator=(const ParameterEventPump&) = delete;

    // Any thread but the audio thread.
    void onParameterEvent(const Vexa::DSP::ParameterEvent& event) override;
    // The audio thread (one at a time).
    std::size_t onBlockEvents(const Vexa::DSP::ParameterEvent* events, std::size_t count) override;

    // Of one batch: changes of a parameter between its touches reduced to
    // the last, touches kept in order, one change of the whole set.
    static std::vector<Vexa::DSP::ParameterEvent> merged(
        const std::vector<Vexa::DSP::ParameterEvent>& batch);

private:
    void run();
    void takeBatch(std::vector<Vexa::DSP::ParameterEvent>& batch);

    PluginEventListener& listener;
    Describe describe;
    // Single producer (the audio thread), single consumer (the pump).
    std::array<Vexa::DSP::ParameterEvent, ringSize> ring{};
    std::atomic<std::size_t> head{0};  // next to write, the producer's
    std::atomic<std::size_t> tail{0};  // next to read, the consumer's
    std::mutex outsideMutex;
    std::vector<Vexa::DSP::ParameterEvent> outside;  // under outsideMutex
    bridge::Doorbell bell;
    std::atomic<bool> stopping{false};
    std::thread pump;  // last: it starts once everything above exists
};
