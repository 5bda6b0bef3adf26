#include "bridge/PluginMessages.h"

#include <cstring>

namespace bridge {

namespace {

// Fields in order, native byte order (both ends run on one machine): a
// number is 4 bytes, a text or blob its length and then its bytes.
class Writer {
public:
    Writer& number(uint32_t value) {
        out.append(reinterpret_cast<const char*>(&value), sizeof value);
        return *this;
    }
    Writer& number(int32_t value) { return number(static_cast<uint32_t>(value)); }
    Writer& flag(bool value) { return number(value ? 1u : 0u); }
    Writer& bytes(const std::string& value) {
        number(static_cast<uint32_t>(value.size()));
        out += value;
        return *this;
    }
    Writer& condition(const Condition& value) {
        return flag(value.editorOpen).flag(value.suspended);
    }
    std::string take() { return std::move(out); }

private:
    std::string out;
};

// Reads what Writer wrote. Any field past the payload's end, and any
// payload with bytes left over, makes the whole message unreadable.
class Reader {
public:
    explicit Reader(const std::string& in) : in(in) {}

    Reader& number(uint32_t& value) {
        if (!take(sizeof value)) return *this;
        std::memcpy(&value, in.data() + at - sizeof value, sizeof value);
        return *this;
    }
    Reader& number(int32_t& value) {
        uint32_t raw = 0;
        number(raw);
        value = static_cast<int32_t>(raw);
        return *this;
    }
    Reader& flag(bool& value) {
        uint32_t raw = 0;
        number(raw);
        if (raw > 1) good = false;
        value = raw == 1;
        return *this;
    }
    Reader& bytes(std::string& value) {
        uint32_t length = 0;
        number(length);
        if (!take(length)) return *this;
        value.assign(in, at - length, length);
        return *this;
    }
    Reader& condition(Condition& value) { return flag(value.editorOpen).flag(value.suspended); }
    bool complete() const { return good && at == in.size(); }

private:
    bool take(std::size_t count) {
        if (!good || in.size() - at < count) {
            good = false;
            return false;
        }
        at += count;
        return true;
    }

    const std::string& in;
    std::size_t at = 0;
    bool good = true;
};

}  // namespace

std::string encode(const Done& message) {
    return Writer().condition(message.condition).take();
}

std::string encode(const LoadResult& message) {
    return Writer()
        .flag(message.ok)
        .number(message.latency)
        .number(message.inputs)
        .number(message.outputs)
        .bytes(message.name)
        .number(static_cast<uint32_t>(message.failure))
        .bytes(message.reason)
        .condition(message.condition)
        .take();
}

std::string encode(const StateResult& message) {
    return Writer().flag(message.ok).bytes(message.blob).condition(message.condition).take();
}

std::string encode(const LoadRequest& message) {
    return Writer()
        .bytes(message.path)
        .flag(message.uniqueId.has_value())
        .number(message.uniqueId.value_or(0))
        .take();
}

std::string encode(const SetStateRequest& message) {
    return Writer().bytes(message.blob).take();
}

std::string encode(const SetBlockSizeRequest& message) {
    return Writer().number(message.frames).take();
}

std::string encode(const SetSampleRateRequest& message) {
    return Writer().number(message.rate).take();
}

bool decode(const std::string& payload, Done& message) {
    return Reader(payload).condition(message.condition).complete();
}

bool decode(const std::string& payload, LoadResult& message) {
    uint32_t failure = 0;
    const bool read = Reader(payload)
                          .flag(message.ok)
                          .number(message.latency)
                          .number(message.inputs)
                          .number(message.outputs)
                          .bytes(message.name)
                          .number(failure)
                          .bytes(message.reason)
                          .condition(message.condition)
                          .complete();
    message.failure = static_cast<LoadFailure>(failure);
    return read && failure <= static_cast<uint32_t>(LoadFailure::timeout);
}

bool decode(const std::string& payload, StateResult& message) {
    return Reader(payload)
        .flag(message.ok)
        .bytes(message.blob)
        .condition(message.condition)
        .complete();
}

bool decode(const std::string& payload, LoadRequest& message) {
    bool shell = false;
    int32_t uniqueId = 0;
    if (!Reader(payload).bytes(message.path).flag(shell).number(uniqueId).complete()) return false;
    message.uniqueId = shell ? std::optional<int32_t>(uniqueId) : std::nullopt;
    return true;
}

bool decode(const std::string& payload, SetStateRequest& message) {
    return Reader(payload).bytes(message.blob).complete();
}

bool decode(const std::string& payload, SetBlockSizeRequest& message) {
    return Reader(payload).number(message.frames).complete();
}

bool decode(const std::string& payload, SetSampleRateRequest& message) {
    return Reader(payload).number(message.rate).complete();
}

}  // namespace bridge
