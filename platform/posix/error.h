// Windows error numbers for POSIX failures.
#pragma once

#include <cstdint>
#include <string>

namespace plat::posix {

// The Windows number of an errno value. ENOENT becomes 2.
uint32_t WindowsError(int error);

// The Windows number of an errno value from an operation on `hostPath`:
// ENOENT becomes 3 when the path's parent folder is missing too, and EEXIST
// becomes 183 instead of 80 when `folder` is set.
uint32_t WindowsError(int error, const std::string& hostPath, bool folder = false);

// Sets the last error and returns false, so that failures read `return Fail(5);`.
bool Fail(uint32_t error);
bool FailErrno(int error, const std::string& hostPath, bool folder = false);

}  // namespace plat::posix
