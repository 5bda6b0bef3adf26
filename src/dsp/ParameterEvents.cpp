#include "dsp/ParameterEvents.h"

#include <algorithm>

namespace Vexa::DSP {

bool BlockEvents::add(const ParameterEvent& event) {
    if (event.kind == ParameterEvent::Kind::change) {
        // The last event of this parameter: a change is replaced; a touch
        // stays between the two changes.
        for (std::size_t i = count; i-- > 0;) {
            ParameterEvent& earlier = events[i];
            if (earlier.kind == ParameterEvent::Kind::setChanged ||
                earlier.kind == ParameterEvent::Kind::ioChanged || earlier.index != event.index)
                continue;
            if (earlier.kind != ParameterEvent::Kind::change) break;
            earlier.value = event.value;
            return true;
        }
        if (count >= changeRoom) return false;
    } else if (event.kind == ParameterEvent::Kind::setChanged ||
               event.kind == ParameterEvent::Kind::ioChanged) {
        // Once per block is all a client can use.
        for (std::size_t i = 0; i < count; ++i)
            if (events[i].kind == event.kind) return true;
    }
    if (count >= capacity) return false;
    events[count++] = event;
    return true;
}

void BlockEvents::dropFirst(std::size_t taken) {
    taken = std::min(taken, count);
    std::copy(events.begin() + static_cast<std::ptrdiff_t>(taken),
              events.begin() + static_cast<std::ptrdiff_t>(count), events.begin());
    count -= taken;
}

}  // namespace Vexa::DSP
