// The waiter sleeps on an auto-reset event of this process's own.
#include <windows.h>

#include "bridge/Doorbell.h"

namespace bridge {

Doorbell::Doorbell() {
    word.event = HandleToULong(CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

Doorbell::~Doorbell() {
    if (word.event != 0) CloseHandle(ULongToHandle(word.event));
}

}  // namespace bridge
