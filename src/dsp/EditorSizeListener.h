// Told when a plug-in asks for its editor to be resized. Plug-ins ask from
// whatever thread they like.
#pragma once

#include <cstdint>

namespace Vexa::DSP {

class EditorSizeListener {
public:
    virtual void onEditorSizeRequest(int32_t width, int32_t height) = 0;

protected:
    ~EditorSizeListener() = default;
};

}  // namespace Vexa::DSP
