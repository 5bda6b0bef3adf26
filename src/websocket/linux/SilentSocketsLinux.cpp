#include "websocket/SilentSockets.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>

#include "websocket/linux/LoopbackSockets.h"

void SilentSockets::start() {
    const int listener = findListeningSocket(port);
    const int seconds = silentSecondsAllowed;
    // The kernel completes the connection but queues it for accept() only
    // once data (or the end of the stream) arrives, or after `seconds`.
    // Connections beyond the listen backlog skip the hold (SYN cookies),
    // which is why the backlog is large (ServerLimits.cpp).
    if (listener < 0 ||
        setsockopt(listener, IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds) != 0)
        std::fputs("WS cannot hold back silent sockets\n", stdout);
    std::lock_guard<std::mutex> lock(mutex);
    ending = false;
    if (!sweeper.joinable()) sweeper = std::thread([this] { sweep(); });
}

void SilentSockets::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ending = true;
    }
    changed.notify_one();
    if (sweeper.joinable()) sweeper.join();
}

void SilentSockets::connectionTaken() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        taken = true;
    }
    changed.notify_one();
}

void SilentSockets::sweep() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return taken || ending; });
        if (ending) return;
        taken = false;
        lock.unlock();
        // One look covers every connection taken meanwhile, so a burst of
        // silent sockets costs a few looks, not one each.
        endSilentConnections(port);
        lock.lock();
    }
}
