#include "ParameterCheck.h"

#include <cmath>

namespace compat {

namespace {

using nlohmann::json;

// Values read back as floats from the plug-in's own scale.
constexpr double valueTolerance = 1e-4;

// What the table may show of a plug-in's text: no cell or field separators.
std::string printable(std::string text) {
    for (char& c : text)
        if (c == '|' || c == '\t' || c == '\n') c = '/';
    return text;
}

Outcome fails(const std::string& why) {
    return {"fails", printable(why)};
}

json entryOf(const json& listed, int index) {
    const json list = listed.value("parameters", json::array());
    return list.is_array() && index < static_cast<int>(list.size()) && list[index].is_object()
               ? list[index]
               : json::object();
}

// The parameter a user would most likely automate: the first continuous one
// that can be, else the first that can be at all; -1 when none can.
int chooseParameter(const json& list) {
    int any = -1;
    for (int i = 0; i < static_cast<int>(list.size()); ++i) {
        if (!list[i].value("automatable", false)) continue;
        if (!list[i].value("switch", false) && !list[i].value("integer", false)) return i;
        if (any < 0) any = i;
    }
    return any;
}

// Sets the parameter to `value` and checks that the list then shows that
// value and the text `expected`; empty when it did, else why not.
std::string setAndRead(Version2Connection& v2, int index, double value,
                       const std::string& expected) {
    const std::string what = "parameter " + std::to_string(index);
    if (!v2.ok({{"op", "setParameter"}, {"index", index}, {"value", value}}))
        return what + ": setParameter refused " + std::to_string(value);
    const json entry = entryOf(v2.ask({{"op", "parameters"}}), index);
    const double read = entry.value("value", -1.0);
    const std::string shown = entry.value("display", "");
    if (std::fabs(read - value) > valueTolerance)
        return what + " set to " + std::to_string(value) + " reads back " + std::to_string(read);
    if (shown != expected)
        return what + " set to " + std::to_string(value) + " shows \"" + shown + "\", not \"" +
               expected + "\"";
    return "";
}

}  // namespace

Outcome checkParameters(Version2Connection& v2, int count) {
    const json list = v2.ask({{"op", "parameters"}}).value("parameters", json());
    if (!list.is_array() || static_cast<int>(list.size()) != count)
        return fails("parameters lists " + std::to_string(list.is_array() ? list.size() : 0) +
                     " where the load counted " + std::to_string(count));
    for (int i = 0; i < count; ++i) {
        const json& entry = list[i];
        const double value = entry.is_object() ? entry.value("value", -1.0) : -1.0;
        if (!entry.is_object() || entry.value("index", -1) != i || entry.value("name", "").empty())
            return fails("parameter " + std::to_string(i) +
                         " has no name or index: " + entry.dump());
        if (!(value >= 0.0 && value <= 1.0))
            return fails("parameter " + std::to_string(i) + " is at " + std::to_string(value));
    }
    const int index = chooseParameter(list);
    if (index < 0)
        return {"none",
                count == 0 ? "no parameters" : std::to_string(count) + ", none automatable"};

    // To the far end of its range: a value every parameter takes as it is,
    // stepped or not.
    const double before = list[index].value("value", 0.0);
    const std::string shownBefore = list[index].value("display", "");
    const double moved = before < 0.5 ? 1.0 : 0.0;
    const json probe = v2.ask({{"op", "parameterDisplay"}, {"index", index}, {"value", moved}});
    if (!probe.value("ok", false)) return fails("parameterDisplay refused: " + probe.dump());
    const std::string display = probe.value("display", "");
    if (const std::string why = setAndRead(v2, index, moved, display); !why.empty())
        return fails(why);
    // Back as it was, and shown as it was.
    if (const std::string why = setAndRead(v2, index, before, shownBefore); !why.empty())
        return fails("back: " + why);
    return {"ok", std::to_string(count) + ", " +
                      printable(list[index].value("name", "") + " \"" + shownBefore + "\" → \"" +
                                display + "\"")};
}

}  // namespace compat
