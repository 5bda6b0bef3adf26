#include "ipc/ServerOptions.h"

bool serverNoDelay() {
    return true;
}
