#include "websocket/ServerOptions.h"

bool serverNoDelay() {
    return true;
}
