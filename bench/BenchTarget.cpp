#include "BenchTarget.h"

#include <cstdlib>
#include <sstream>

namespace {

bool parseNumber(const std::string& text, long low, long high, long& value) {
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && value >= low && value <= high;
}

}  // namespace

std::optional<BenchTarget> parseTarget(const std::string& text) {
    BenchTarget target;
    std::istringstream fields(text);
    for (std::string field; std::getline(fields, field, ',');) {
        const size_t equals = field.find('=');
        if (equals == std::string::npos) return std::nullopt;
        const std::string key = field.substr(0, equals);
        const std::string value = field.substr(equals + 1);
        long number = 0;
        if (key == "name") {
            target.name = value;
        } else if (key == "kind" && (value == "tcp" || value == "echo" || value == "host" ||
                                     value == "host2" || value == "handoff")) {
            target.isHost = value == "host" || value == "host2";
            target.speaksVersion2 = value == "host2";
            target.isRawTcp = value == "tcp";
            target.isHandoff = value == "handoff";
        } else if (key == "port" && parseNumber(value, 1, 65535, number)) {
            target.port = static_cast<uint16_t>(number);
        } else if (key == "file") {
            target.handoffPath = value;
        } else if (key == "counters") {
            target.countersPath = value;
        } else if (key == "blocks" && parseNumber(value, 1, 10000000, number)) {
            target.blocksPerRound = static_cast<int>(number);
        } else if (key == "rounds" && parseNumber(value, 1, 10000000, number)) {
            target.rounds = static_cast<int>(number);
        } else if (key == "plugin" && !value.empty()) {
            target.plugin = value;
        } else if (key == "expect" &&
                   (value == "same" || value == "half" || value == "levels" || value == "any")) {
            target.expectation = value == "same"     ? Expectation::same
                                 : value == "half"   ? Expectation::half
                                 : value == "levels" ? Expectation::levels
                                                     : Expectation::any;
        } else if (key == "records" && parseNumber(value, 0, 512, number)) {
            target.parameterRecords = static_cast<int>(number);
        } else if (key == "outputs" && parseNumber(value, 1, 128, number)) {
            target.outputs = static_cast<uint32_t>(number);
        } else if (key == "base" && !value.empty()) {
            target.base = value;
        } else {
            return std::nullopt;
        }
    }
    if (target.name.empty()) return std::nullopt;
    if (target.isHandoff ? target.handoffPath.empty() : target.port == 0) return std::nullopt;
    // Records and chosen channels are protocol 2's only.
    if ((target.parameterRecords > 0 || target.outputs != 2) && !target.speaksVersion2)
        return std::nullopt;
    return target;
}
