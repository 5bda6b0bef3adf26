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
    Writer& real(float value) {
        uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        return number(bits);
    }
    template <class Item, class Each>
    Writer& list(const std::vector<Item>& items, Each each) {
        number(static_cast<uint32_t>(items.size()));
        for (const Item& item : items) each(*this, item);
        return *this;
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
    Reader& real(float& value) {
        uint32_t bits = 0;
        number(bits);
        std::memcpy(&value, &bits, sizeof bits);
        return *this;
    }
    // Each item takes at least 4 bytes, so a count past what is left is a
    // lie that would otherwise cost a huge allocation.
    template <class Item, class Each>
    Reader& list(std::vector<Item>& items, Each each) {
        uint32_t count = 0;
        number(count);
        if (!good || count > (in.size() - at) / 4) {
            good = false;
            return *this;
        }
        items.resize(count);
        for (Item& item : items) each(*this, item);
        return *this;
    }
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

template <class IO, class PinType>
void pinFields(IO& io, PinType& pin) {
    io.bytes(pin.label).flag(pin.stereo);
}

// The fields of the messages added with parameters, in one place for both
// directions: Writer and Reader share the names of their steps.
template <class IO, class Info>
void parameterFields(IO& io, Info& info) {
    io.number(info.index)
        .bytes(info.name)
        .bytes(info.label)
        .bytes(info.display)
        .real(info.value)
        .flag(info.automatable)
        .flag(info.isSwitch)
        .flag(info.isInteger)
        .number(info.minimum)
        .number(info.maximum)
        .bytes(info.category);
}

template <class IO, class Message>
IO& fieldsOf(IO& io, Message& message, ParametersResult*) {
    return io.list(message.parameters, [](auto& step, auto& info) { parameterFields(step, info); })
        .condition(message.condition);
}
template <class IO, class Message>
IO& fieldsOf(IO& io, Message& message, ProgramsResult*) {
    return io.list(message.names, [](auto& step, auto& name) { step.bytes(name); })
        .number(message.current)
        .condition(message.condition);
}
template <class IO, class Message>
IO& fieldsOf(IO& io, Message& message, DisplayResult*) {
    return io.bytes(message.display).condition(message.condition);
}
template <class IO, class Message>
IO& fieldsOf(IO& io, Message& message, Accepted*) {
    return io.flag(message.ok).condition(message.condition);
}
template <class IO, class Message>
IO& fieldsOf(IO& io, Message& message, ParameterDisplayRequest*) {
    return io.number(message.index).real(message.value);
}
template <class IO, class Message>
IO& fieldsOf(IO& io, Message& message, SetParameterRequest*) {
    return io.number(message.index).real(message.value);
}
template <class IO, class Message>
IO& fieldsOf(IO& io, Message& message, SetProgramRequest*) {
    return io.number(message.index);
}
template <class IO, class Message>
IO& fieldsOf(IO& io, Message& message, SetProgramNameRequest*) {
    return io.bytes(message.name);
}
template <class IO, class Message>
IO& fieldsOf(IO& io, Message& message, SetOfflineRequest*) {
    return io.flag(message.offline);
}

template <class Message>
std::string written(const Message& message) {
    Writer writer;
    fieldsOf(writer, message, static_cast<Message*>(nullptr));
    return writer.take();
}

template <class Message>
bool read(const std::string& payload, Message& message) {
    Reader reader(payload);
    return fieldsOf(reader, message, static_cast<Message*>(nullptr)).complete();
}

}  // namespace

// Type names a type, which cannot be parenthesized.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define CORVEL_BOTH_WAYS(Type)                               \
    std::string encode(const Type& message) {                \
        return written(message);                             \
    }                                                        \
    bool decode(const std::string& payload, Type& message) { \
        return read(payload, message);                       \
    }
// NOLINTEND(bugprone-macro-parentheses)
CORVEL_BOTH_WAYS(ParametersResult)
CORVEL_BOTH_WAYS(ProgramsResult)
CORVEL_BOTH_WAYS(DisplayResult)
CORVEL_BOTH_WAYS(Accepted)
CORVEL_BOTH_WAYS(ParameterDisplayRequest)
CORVEL_BOTH_WAYS(SetParameterRequest)
CORVEL_BOTH_WAYS(SetProgramRequest)
CORVEL_BOTH_WAYS(SetProgramNameRequest)
CORVEL_BOTH_WAYS(SetOfflineRequest)
#undef CORVEL_BOTH_WAYS

std::string encode(const PluginEvent& message) {
    return Writer()
        .number(static_cast<uint32_t>(message.what))
        .number(message.index)
        .real(message.value)
        .bytes(message.display)
        .number(message.inputs)
        .number(message.outputs)
        .number(message.latency)
        .take();
}

bool decode(const std::string& payload, PluginEvent& message) {
    uint32_t what = 0;
    const bool read = Reader(payload)
                          .number(what)
                          .number(message.index)
                          .real(message.value)
                          .bytes(message.display)
                          .number(message.inputs)
                          .number(message.outputs)
                          .number(message.latency)
                          .complete();
    message.what = static_cast<PluginEvent::Kind>(what);
    return read && what <= static_cast<uint32_t>(PluginEvent::Kind::ioChanged);
}

std::string encode(const Done& message) {
    return Writer().condition(message.condition).take();
}

std::string encode(const LoadResult& message) {
    return Writer()
        .flag(message.ok)
        .number(message.latency)
        .number(message.inputs)
        .number(message.outputs)
        .number(message.parameters)
        .number(message.programs)
        .list(message.inputPins, pinFields<Writer, const Pin>)
        .list(message.outputPins, pinFields<Writer, const Pin>)
        .bytes(message.name)
        .number(static_cast<uint32_t>(message.failure))
        .bytes(message.reason)
        .condition(message.condition)
        .take();
}

std::string encode(const StateResult& message) {
    return Writer()
        .flag(message.ok)
        .flag(message.chunk)
        .bytes(message.blob)
        .condition(message.condition)
        .take();
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
                          .number(message.parameters)
                          .number(message.programs)
                          .list(message.inputPins, pinFields<Reader, Pin>)
                          .list(message.outputPins, pinFields<Reader, Pin>)
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
        .flag(message.chunk)
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
