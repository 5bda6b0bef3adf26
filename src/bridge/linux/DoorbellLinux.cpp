// The word itself is what the waiter sleeps on: nothing to set up.
#include "bridge/Doorbell.h"

namespace bridge {

Doorbell::Doorbell() = default;
Doorbell::~Doorbell() = default;

}  // namespace bridge
