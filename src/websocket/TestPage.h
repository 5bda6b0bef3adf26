// The built-in test page: plain HTTP requests on the control channel's
// address get the page and its scripts from memory. WebSocket upgrades on
// the same paths still reach the channel; the server tells them apart.
#pragma once

#include <CivetServer.h>

class TestPage : public CivetHandler {
public:
    using CivetHandler::handleGet;
    using CivetHandler::handleHead;

    bool handleGet(CivetServer* server, mg_connection* conn, int* status) override;
    bool handleHead(CivetServer* server, mg_connection* conn, int* status) override;
};
