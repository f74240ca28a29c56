// The thread's last error is Windows' own.
#include <windows.h>

#include "platform/platform.h"

namespace plat {

uint32_t LastError() { return ::GetLastError(); }

void SetLastError(uint32_t error) { ::SetLastError(error); }

}  // namespace plat
