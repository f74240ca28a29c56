#include "platform/platform.h"
#include "platform/posix/facets.h"

namespace plat {

Platform& Native() {
  static Platform platform{posix::NativeFileSystem(),  posix::NativeClock(),
                           posix::NativeProcesses(),   posix::NativeUserInterface(),
                           posix::NativeSystemInfo(),  posix::NativeLibraries()};
  return platform;
}

}  // namespace plat
