// The little user interface the programs touch: message boxes, the desktop
// window, the wait cursor, one queued message, and the Application event log.
#include <windows.h>

#include "platform/win32/win32.h"

namespace plat::win32 {

int Desktop::ShowMessageBox(uint32_t owner, const std::string& text, const std::string& caption,
                            uint32_t style) {
  return ::MessageBoxA(ToHandle<HWND>(owner), text.c_str(), caption.c_str(), style);
}

bool Desktop::DesktopVisible() {
  // A service's or a non-interactive task's window station has no visible
  // display: a message box there waits for a person who cannot see it. When
  // the flags cannot be read, the box is shown, as it always was.
  USEROBJECTFLAGS flags;
  HWINSTA station = ::GetProcessWindowStation();
  if (!station || !::GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
    return true;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool Desktop::WriteEventLog(const std::string& source, EventType type, uint32_t id,
                            const std::string& text) {
  // An unregistered source still writes to the Application log; a registered
  // one lets the event viewer show the text without a warning.
  HANDLE log = ::RegisterEventSourceA(nullptr, source.c_str());
  if (!log) return false;
  const char* strings[] = {text.c_str()};
  WORD kind = type == EventType::kError ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE;
  BOOL written = ::ReportEventA(log, kind, 0, id, nullptr, 1, 0, strings, nullptr);
  DWORD error = written ? ERROR_SUCCESS : ::GetLastError();
  ::DeregisterEventSource(log);
  ::SetLastError(error);
  return written != FALSE;
}

uint32_t Desktop::DesktopWindow() { return ToNumber(::GetDesktopWindow()); }

void Desktop::ShowWaitCursor() { ::SetCursor(::LoadCursor(nullptr, IDC_WAIT)); }

void Desktop::RemoveQueuedMessage(uint32_t message) {
  MSG removed;
  ::PeekMessageA(&removed, nullptr, message, message, PM_REMOVE);
}

}  // namespace plat::win32
