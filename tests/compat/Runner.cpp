#include "Runner.h"

#include <chrono>
#include <iostream>

#include "PluginDrive.h"
#include "ProcessStats.h"

namespace compat {

namespace {

constexpr int descriptorBudget = 64;

// Every aspect against what the list expects; mismatches in both
// directions count, so the table never claims less or more than is true.
std::string judge(const PluginResult& result, const Expectation& expectation) {
    std::string verdict;
    for (Aspect aspect : allAspects) {
        const Status expected = expectation.expected(aspect);
        const Status actual = result[aspect].status;
        const std::string& cause = expectation.causes[static_cast<std::size_t>(aspect)];
        const bool causeMatters = expected == Status::fails && !cause.empty();
        if (expected == actual && (!causeMatters || cause == result[aspect].cause)) continue;
        if (!verdict.empty()) verdict += "; ";
        verdict += std::string(aspectName(aspect)) + " expected " + statusName(expected) +
                   (causeMatters ? " (" + cause + ")" : "") + ", got " + statusName(actual) +
                   (result[aspect].detail.empty() ? "" : " (" + result[aspect].detail + ")");
    }
    return verdict;
}

}  // namespace

bool Runner::drive(const CatalogEntry& entry, const Expectation& expectation, PluginResult& result,
                   std::string& error) {
    result.package = entry.package;
    result.file = entry.file;
    result.path = entry.path;
    result.kind = expectation.kind;
    result.note = expectation.note;
    const auto started = std::chrono::steady_clock::now();
    if (!session) {
        session = std::make_unique<HostSession>(true);
        ++sessions;
        if (!session->start(error)) return false;
    }
    PluginDrive drive(*session, entry, expectation, result);
    try {
        drive.run();
    } catch (const SessionBroken& failure) {
        result[drive.stage()] = Outcome{Status::fails, failure.what(), "broken"};
        // Its end only: LSP editors fill standard error with ignored X errors.
        const std::string errors = session->errors();
        const std::size_t tail = 2000;
        std::cout << "    program output on standard error (end):\n"
                  << (errors.size() > tail ? errors.substr(errors.size() - tail) : errors) << "\n";
        session.reset();
    }
    // Plug-ins that keep X connections after unload would otherwise use up
    // the X server's clients, and the ones after them could not open.
    if (session && readProcessStats(session->pid()).descriptors > descriptorBudget) {
        std::cout << "    (a new program for the next plug-ins: too many files left open)\n";
        session.reset();
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.verdict = judge(result, expectation);
    return true;
}

}  // namespace compat
