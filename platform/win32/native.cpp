// The real platform of the Windows build: the Win32 facets, made on first use.
#include "platform/win32/win32.h"

namespace plat {

Platform& Native() {
  static win32::Files files;
  static win32::SystemClock clock;
  static win32::Shell processes;
  static win32::Desktop ui;
  static win32::System system;
  static win32::Modules libraries;
  static Platform platform{files, clock, processes, ui, system, libraries};
  return platform;
}

}  // namespace plat
