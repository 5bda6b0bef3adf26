// Whether the window a host gave at effEditOpen still exists, asked at
// effEditClose: a host must close the editor before it destroys the window.
#pragma once

namespace TestPlugin {

// "open", "gone", or "unknown" when the window system cannot be asked.
const char* parentWindowState(void* parent);

}  // namespace TestPlugin
