#include "platform/posix/attributes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

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

// True when a failed read of the value means only that the file has none to
// give: none stored, none the file system can keep, or one too long to decode.
bool NoValue(int error) { return error == ENODATA || error == ENOTSUP || error == ERANGE; }

// What a write keeps of the file besides the bits it sets.
struct WriteFacts {
  bool folder = false;
  FileTime created = 0;
};

// A value that records a creation time gives both facts: this layer and the
// SMB servers write the folder bit into every value of a folder. Otherwise
// one statx of the file (following links) tells them, the creation time then
// being its birth time, or the older of its change and modification times
// where the file system records none. False with errno set when the file
// cannot be reached.
bool ReadWriteFacts(int fd, const std::string& path, WriteFacts& facts) {
  std::optional<DosAttrib> old = fd >= 0 ? ReadStoredAttributes(fd) : ReadStoredAttributes(path);
  if (old && old->createTime) {
    facts.folder = old->attrib & kAttrDirectory;
    facts.created = *old->createTime;
    return true;
  }
  struct statx found;
  int flags = fd >= 0 ? AT_EMPTY_PATH : 0;
  if (statx(fd >= 0 ? fd : AT_FDCWD, fd >= 0 ? "" : path.c_str(), flags,
            STATX_TYPE | STATX_BTIME | STATX_MTIME | STATX_CTIME, &found) != 0) {
    return false;
  }
  facts.folder = S_ISDIR(found.stx_mode);
  if (found.stx_mask & STATX_BTIME) {
    facts.created = FileTimeFromUnix(found.stx_btime.tv_sec, found.stx_btime.tv_nsec);
  } else {
    const statx_timestamp& older =
        found.stx_ctime.tv_sec < found.stx_mtime.tv_sec ? found.stx_ctime : found.stx_mtime;
    facts.created = FileTimeFromUnix(older.tv_sec, older.tv_nsec);
  }
  return true;
}

bool Write(int fd, const std::string& hostPath, const WriteFacts& facts, uint32_t attrib) {
  uint32_t value = attrib & kSettableAttributes;
  if (facts.folder) value |= kAttrDirectory;
  std::string bytes = EncodeDosAttrib(value, facts.created);
  int result = fd >= 0 ? fsetxattr(fd, kXattrName, bytes.data(), bytes.size(), 0)
                       : setxattr(hostPath.c_str(), kXattrName, bytes.data(), bytes.size(), 0);
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
  WriteFacts facts;
  if (!ReadWriteFacts(-1, hostPath, facts)) return FailErrno(errno, hostPath);
  return Write(-1, hostPath, facts, attrib);
}

bool WriteStoredAttributes(int fd, uint32_t attrib) {
  WriteFacts facts;
  ReadWriteFacts(fd, "", facts);  // an open file can always be described
  return Write(fd, "", facts, attrib);
}

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
  // The folder being listed is open as `dirFd`: its own entry needs no lookup.
  bool listedFolder = dirFd >= 0 && std::strcmp(name, ".") == 0;
  struct stat facts;
  int described =
      listedFolder ? fstat(dirFd, &facts) : fstatat(dirFd, name, &facts, AT_SYMLINK_NOFOLLOW);
  if (described != 0) return FailErrno(errno, hostPath);
  bool link = S_ISLNK(facts.st_mode);
  bool folder = S_ISDIR(facts.st_mode);
  if (link) {
    // A link reports the reparse point, its target's folder bit and stored bits.
    struct stat target;
    folder = fstatat(dirFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
  }
  std::optional<DosAttrib> stored =
      listedFolder ? ReadStoredAttributes(dirFd) : ReadStoredAttributes(hostPath);
  entry.attributes = ReportedAttributes(shownName, folder, link, stored);
  entry.lastWriteTime = FileTimeFromUnix(facts.st_mtim.tv_sec, facts.st_mtim.tv_nsec);
  entry.size = folder || link ? 0 : static_cast<uint64_t>(facts.st_size);
  return true;
}

bool DescribeListedName(int dirFd, const char* name, const std::string& hostPath,
                        std::string_view shownName, unsigned char type, FindEntry& entry) {
  // A link's folder bit is its target's, and an unknown type is no answer.
  if (type == DT_LNK || type == DT_UNKNOWN) return DescribeFile(dirFd, name, hostPath, shownName, entry);
  char value[kMaxValue];
  ssize_t length = getxattr(hostPath.c_str(), kXattrName, value, sizeof value);
  // Whether an entry that cannot be read (gone since the listing, no access)
  // is still there is the stat's to tell, as for every other entry.
  if (length < 0 && !NoValue(errno)) return DescribeFile(dirFd, name, hostPath, shownName, entry);
  entry.attributes = ReportedAttributes(shownName, type == DT_DIR, false, Decode(length, value));
  entry.lastWriteTime = 0;
  entry.size = 0;
  return true;
}

}  // namespace plat::posix
