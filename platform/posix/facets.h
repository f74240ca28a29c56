// The POSIX facets, one object each for the life of the process.
#pragma once

#include "platform/platform.h"

namespace plat::posix {

FileSystem& NativeFileSystem();
Clock& NativeClock();
Processes& NativeProcesses();
UserInterface& NativeUserInterface();
SystemInfo& NativeSystemInfo();
Libraries& NativeLibraries();

}  // namespace plat::posix
