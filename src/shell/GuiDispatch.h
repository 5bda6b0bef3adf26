// The bridge from the channel's worker thread to the GUI thread.
#pragma once

#include <cstdint>
#include <string>

class VST2Host;

enum GuiMessage : unsigned {
    WM_LOAD_PLUGIN = 1025,
    WM_UNLOAD_PLUGIN = 1026,
    WM_GET_STATE = 1027,
    WM_SET_STATE = 1028,
    WM_SHOW_GUI = 1029,
    WM_TRAY_ICON = 1030,
    WM_QUIT_HOST = 1031,
    WM_RESIZE_EDITOR = 1032,  // a size request made off the GUI thread
};

extern VST2Host* hostInstance;

// Worker side. The synchronous pair returns at once once shutdown has begun.
void postLoadPlugin(std::string path);
void postUnloadPlugin();
void getStateSync();
void setStateSync(const uint8_t* data, uint64_t size);
void postShowGui();
void postQuit();

// GUI side: runs one user message; payload is what postGuiMessage carried.
void handleGuiMessage(unsigned message, void* payload);

// Shutdown: wakes every waiting synchronous caller and refuses new ones.
void releaseSyncCallers();

// Platform: queues a message for the GUI thread. The payload (or null)
// travels with the message and is handed to handleGuiMessage.
bool postGuiMessage(unsigned message, void* payload);

// Payload of WM_RESIZE_EDITOR.
struct EditorResizeRequest {
    int32_t width;
    int32_t height;
    void* frame;
};
