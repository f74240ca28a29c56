#include "platform/posix/error.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/platform.h"

namespace plat {

namespace {
thread_local uint32_t lastError = kErrorSuccess;
}  // namespace

uint32_t LastError() { return lastError; }
void SetLastError(uint32_t error) { lastError = error; }

}  // namespace plat

namespace plat::posix {

namespace {

bool ParentFolderExists(const std::string& hostPath) {
  std::string path = hostPath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.find_last_of('/');
  std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat facts;
  return stat(parent.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode);
}

}  // namespace

uint32_t WindowsError(int error) {
  switch (error) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return kErrorAccessDenied;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case ENOEXEC: return kErrorBadFormat;
    case EBUSY:
    case ETXTBSY: return kErrorSharingViolation;
    case ENOTSUP: return kErrorNotSupported;  // EOPNOTSUPP has the same value on Linux
    case ENOSYS: return 1;                    // ERROR_INVALID_FUNCTION
    case EEXIST: return kErrorFileExists;
    case EINVAL: return kErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case EMFILE:
    case ENFILE: return 4;     // ERROR_TOO_MANY_OPEN_FILES
    case EXDEV: return 17;     // ERROR_NOT_SAME_DEVICE
    case ELOOP: return 1921;   // ERROR_CANT_RESOLVE_FILENAME
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case EIO: return 1117;     // ERROR_IO_DEVICE
    default: return 31;        // ERROR_GEN_FAILURE
  }
}

uint32_t WindowsError(int error, const std::string& hostPath, bool folder) {
  if (error == ENOENT) {
    return ParentFolderExists(hostPath) ? kErrorFileNotFound : kErrorPathNotFound;
  }
  if (error == EEXIST && folder) return kErrorAlreadyExists;
  return WindowsError(error);
}

bool Fail(uint32_t error) {
  SetLastError(error);
  return false;
}

bool FailErrno(int error, const std::string& hostPath, bool folder) {
  return Fail(WindowsError(error, hostPath, folder));
}

}  // namespace plat::posix
