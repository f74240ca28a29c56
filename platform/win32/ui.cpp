// The little user interface the programs touch: message boxes, the desktop
// window, the wait cursor and one queued message.
#include <windows.h>

#include "platform/win32/win32.h"

namespace plat::win32 {

int Desktop::ShowMessageBox(uint32_t owner, const std::string& text, const std::string& caption,
                            uint32_t style) {
  return ::MessageBoxA(ToHandle<HWND>(owner), text.c_str(), caption.c_str(), style);
}

uint32_t Desktop::DesktopWindow() { return ToNumber(::GetDesktopWindow()); }

void Desktop::ShowWaitCursor() { ::SetCursor(::LoadCursor(nullptr, IDC_WAIT)); }

void Desktop::RemoveQueuedMessage(uint32_t message) {
  MSG removed;
  ::PeekMessageA(&removed, nullptr, message, message, PM_REMOVE);
}

}  // namespace plat::win32
