#include "platform/posix/nofollow.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

#include "platform/platform.h"
#include "platform/posix/error.h"

namespace plat::posix {

namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// Opens `part` of the folder `at` as a folder, without following a link.
int OpenFolderPart(int at, const std::string& part) {
  int fd = openat(at, part.c_str(), kFolderFlags | O_NOFOLLOW);
  if (fd >= 0) return fd;
  int error = errno;
  struct stat facts;
  if (fstatat(at, part.c_str(), &facts, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(facts.st_mode)) {
    Fail(kErrorAccessDenied);
  } else {
    Fail(error == ENOENT || error == ENOTDIR ? kErrorPathNotFound : WindowsError(error));
  }
  return -1;
}

}  // namespace

WriteTarget::~WriteTarget() {
  if (folder_ >= 0) close(folder_);
}

WriteTarget::WriteTarget(WriteTarget&& other) noexcept
    : folder_(std::exchange(other.folder_, -1)), name_(std::move(other.name_)) {}

WriteTarget& WriteTarget::operator=(WriteTarget&& other) noexcept {
  std::swap(folder_, other.folder_);
  std::swap(name_, other.name_);
  return *this;
}

bool WriteTarget::Resolve(const std::string& host) {
  if (host.empty()) return Fail(kErrorPathNotFound);
  bool folderOnly = host.back() == '/';
  size_t slash = folderOnly ? host.size() - 1 : host.rfind('/');
  std::string folder = slash == std::string::npos ? "" : host.substr(0, slash + 1);
  name_ = folderOnly ? "." : host.substr(slash + 1);
  if (folder_ >= 0) close(folder_);
  folder_ = AT_FDCWD;
  if (folder.empty()) return true;
  if (folder[0] == '/') {
    folder_ = open(folder.c_str(), kFolderFlags);
    if (folder_ >= 0) return true;
    return Fail(errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound : WindowsError(errno));
  }
  for (size_t start = 0; start < folder.size();) {
    size_t next = folder.find('/', start);
    std::string part = folder.substr(start, next - start);
    start = next + 1;
    if (part.empty()) continue;
    int opened = OpenFolderPart(folder_, part);
    if (folder_ >= 0) close(folder_);
    folder_ = opened;
    if (opened < 0) return false;
  }
  return true;
}

bool OutsideCurrentFolder(int fd) {
  char target[PATH_MAX], current[PATH_MAX];
  ssize_t length = readlink(DescriptorPath(fd).c_str(), target, sizeof target);
  if (length < 0 || length == sizeof target || !getcwd(current, sizeof current)) return false;
  std::string_view file(target, static_cast<size_t>(length)), folder(current);
  if (folder == "/") return false;
  bool inside = file.starts_with(folder) && (file.size() == folder.size() || file[folder.size()] == '/');
  return !inside;
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace plat::posix
