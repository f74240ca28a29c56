#include "platform/posix/attributes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>

#include "platform/posix/error.h"
#include "platform/posix/filetime.h"

namespace plat::posix {

namespace {

constexpr const char* kXattrName = "user.DOSATTRIB";

// Every known encoding is far below this; longer values do not decode anyway.
constexpr size_t kMaxValue = 256;

std::optional<DosAttrib> Decode(ssize_t length, const char* value) {
  if (length < 0) return std::nullopt;
  return DecodeDosAttrib(value, static_cast<size_t>(length));
}

// The birth time of a file as a FILETIME; the older of its change and
// modification times where the file system records no birth time.
FileTime BirthTime(int fd, const char* path) {
  struct statx facts;
  int flags = fd >= 0 ? AT_EMPTY_PATH : 0;
  if (statx(fd >= 0 ? fd : AT_FDCWD, fd >= 0 ? "" : path, flags,
            STATX_BTIME | STATX_MTIME | STATX_CTIME, &facts) != 0) {
    return 0;
  }
  if (facts.stx_mask & STATX_BTIME) return FileTimeFromUnix(facts.stx_btime.tv_sec, facts.stx_btime.tv_nsec);
  const statx_timestamp& older =
      facts.stx_ctime.tv_sec < facts.stx_mtime.tv_sec ? facts.stx_ctime : facts.stx_mtime;
  return FileTimeFromUnix(older.tv_sec, older.tv_nsec);
}

bool IsFolder(int fd, const char* path) {
  struct stat facts;
  int result = fd >= 0 ? fstat(fd, &facts) : stat(path, &facts);
  return result == 0 && S_ISDIR(facts.st_mode);
}

bool Write(int fd, const std::string& hostPath, uint32_t attrib) {
  const char* path = hostPath.c_str();
  std::optional<DosAttrib> old = fd >= 0 ? ReadStoredAttributes(fd) : ReadStoredAttributes(hostPath);
  FileTime created = old && old->createTime ? *old->createTime : BirthTime(fd, path);
  uint32_t value = attrib & kSettableAttributes;
  if (IsFolder(fd, path)) value |= kAttrDirectory;
  std::string bytes = EncodeDosAttrib(value, created);
  int result = fd >= 0 ? fsetxattr(fd, kXattrName, bytes.data(), bytes.size(), 0)
                       : setxattr(path, kXattrName, bytes.data(), bytes.size(), 0);
  if (result == 0) return true;
  // ENOTSUP (a file system without user attributes) becomes 50.
  return FailErrno(errno, hostPath);
}

}  // namespace

std::optional<DosAttrib> ReadStoredAttributes(const std::string& hostPath) {
  char value[kMaxValue];
  return Decode(getxattr(hostPath.c_str(), kXattrName, value, sizeof value), value);
}

std::optional<DosAttrib> ReadStoredAttributes(int fd) {
  char value[kMaxValue];
  return Decode(fgetxattr(fd, kXattrName, value, sizeof value), value);
}

std::optional<std::string> ReadDosAttribValue(const std::string& hostPath) {
  char value[kMaxValue];
  ssize_t length = getxattr(hostPath.c_str(), kXattrName, value, sizeof value);
  if (length < 0) return std::nullopt;
  return std::string(value, static_cast<size_t>(length));
}

bool WriteDosAttribValue(const std::string& hostPath, const std::string& value) {
  return setxattr(hostPath.c_str(), kXattrName, value.data(), value.size(), 0) == 0 ||
         FailErrno(errno, hostPath);
}

bool WriteStoredAttributes(const std::string& hostPath, uint32_t attrib) {
  return Write(-1, hostPath, attrib);
}

bool WriteStoredAttributes(int fd, uint32_t attrib) { return Write(fd, "", attrib); }

bool IsHiddenName(std::string_view name) {
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

uint32_t ReportedAttributes(std::string_view name, bool folder, bool link,
                            const std::optional<DosAttrib>& stored) {
  uint32_t attributes = StoredBits(stored);
  if (IsHiddenName(name)) attributes |= kAttrHidden;
  if (folder) attributes |= kAttrDirectory;
  if (link) attributes |= kAttrReparsePoint;
  return attributes ? attributes : kAttrNormal;
}

bool DescribeFile(int dirFd, const char* name, const std::string& hostPath,
                  std::string_view shownName, FindEntry& entry) {
  struct stat facts;
  if (fstatat(dirFd, name, &facts, AT_SYMLINK_NOFOLLOW) != 0) return FailErrno(errno, hostPath);
  bool link = S_ISLNK(facts.st_mode);
  bool folder = S_ISDIR(facts.st_mode);
  if (link) {
    // A link reports the reparse point, its target's folder bit and stored bits.
    struct stat target;
    folder = fstatat(dirFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
  }
  entry.attributes = ReportedAttributes(shownName, folder, link, ReadStoredAttributes(hostPath));
  entry.lastWriteTime = FileTimeFromUnix(facts.st_mtim.tv_sec, facts.st_mtim.tv_nsec);
  entry.size = folder || link ? 0 : static_cast<uint64_t>(facts.st_size);
  return true;
}

}  // namespace plat::posix
