#include "platform/posix/attributes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

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

// Which file, in which state: any change of its attributes moves the change time.
struct FileState {
  dev_t device = 0;
  ino_t inode = 0;
  int64_t changeSeconds = 0, changeNanoseconds = 0;
};

FileState StateOf(const struct stat& facts) {
  return {facts.st_dev, facts.st_ino, facts.st_ctim.tv_sec, facts.st_ctim.tv_nsec};
}

FileState StateOf(const struct statx& facts) {
  return {makedev(facts.stx_dev_major, facts.stx_dev_minor), facts.stx_ino,
          facts.stx_ctime.tv_sec, facts.stx_ctime.tv_nsec};
}

bool SameState(const FileState& a, const FileState& b) {
  return a.device == b.device && a.inode == b.inode && a.changeSeconds == b.changeSeconds &&
         a.changeNanoseconds == b.changeNanoseconds;
}

// The stored values that the listings of the current path read (see BeginListing).
class RememberedListings {
 public:
  void Begin(const std::string& folder) {
    while (!listings_.empty() && !Holds(listings_.back().folder, folder)) listings_.pop_back();
    if (!listings_.empty() && listings_.back().folder == folder) listings_.pop_back();
    listings_.push_back({folder, {}, true});
  }

  void Remember(const FileState& state, const std::optional<DosAttrib>& stored) {
    if (listings_.empty()) return;
    listings_.back().values.push_back({state, stored});
    listings_.back().sorted = false;
  }

  // The value remembered for the file in this state by the listing in
  // progress or one of the folders that hold it; null when there is none.
  // A write sorts a listing by inode once: the marking of a folder makes one
  // write per file. The entries "." and ".." look only at the listings of the
  // folders that hold the one in progress, one entry after the other.
  const std::optional<DosAttrib>* Recall(const FileState& state, bool forWrite) {
    size_t count = listings_.size() - (forWrite || listings_.empty() ? 0 : 1);
    for (size_t i = count; i-- > 0;) {
      std::vector<Remembered>& values = listings_[i].values;
      if (forWrite) {
        if (!listings_[i].sorted) {
          std::stable_sort(values.begin(), values.end(), ByInode);
          listings_[i].sorted = true;
        }
        auto found = std::lower_bound(values.begin(), values.end(), Remembered{state, {}}, ByInode);
        if (found != values.end() && found->state.inode == state.inode) return Valid(*found, state);
      } else {
        for (const Remembered& value : values) {
          if (value.state.inode == state.inode) return Valid(value, state);
        }
      }
    }
    return nullptr;
  }

 private:
  struct Remembered {
    FileState state;
    std::optional<DosAttrib> stored;
  };
  struct Listing {
    std::string folder;
    std::vector<Remembered> values;
    bool sorted;
  };

  static bool ByInode(const Remembered& a, const Remembered& b) {
    return a.state.inode < b.state.inode;
  }
  static const std::optional<DosAttrib>* Valid(const Remembered& value, const FileState& state) {
    return SameState(value.state, state) ? &value.stored : nullptr;
  }

  // True when the folder `outer` holds `inner` (or is it): "" holds every folder.
  static bool Holds(const std::string& outer, const std::string& inner) {
    return inner.compare(0, outer.size(), outer) == 0;
  }

  std::vector<Listing> listings_;  // outermost first
};

// Each thread remembers its own listings.
RememberedListings& Listings() {
  thread_local RememberedListings listings;
  return listings;
}

// What a write needs to know of the file besides its old value.
struct WriteFacts {
  bool folder = false;
  FileTime birth = 0;  // the older of change and modification time where none is recorded
  FileState state;
};

// One statx of the file (following links) tells all three; false with errno set
// when the file cannot be reached.
bool ReadWriteFacts(int fd, const char* path, WriteFacts& facts) {
  struct statx found;
  int flags = fd >= 0 ? AT_EMPTY_PATH : 0;
  if (statx(fd >= 0 ? fd : AT_FDCWD, fd >= 0 ? "" : path, flags,
            STATX_TYPE | STATX_BTIME | STATX_MTIME | STATX_CTIME, &found) != 0) {
    return false;
  }
  facts.folder = S_ISDIR(found.stx_mode);
  facts.state = StateOf(found);
  if (found.stx_mask & STATX_BTIME) {
    facts.birth = FileTimeFromUnix(found.stx_btime.tv_sec, found.stx_btime.tv_nsec);
  } else {
    const statx_timestamp& older =
        found.stx_ctime.tv_sec < found.stx_mtime.tv_sec ? found.stx_ctime : found.stx_mtime;
    facts.birth = FileTimeFromUnix(older.tv_sec, older.tv_nsec);
  }
  return true;
}

bool Write(int fd, const std::string& hostPath, const WriteFacts& facts, uint32_t attrib) {
  const std::optional<DosAttrib>* listed = Listings().Recall(facts.state, true);
  std::optional<DosAttrib> old = listed ? *listed
                                 : fd >= 0 ? ReadStoredAttributes(fd)
                                           : ReadStoredAttributes(hostPath);
  FileTime created = old && old->createTime ? *old->createTime : facts.birth;
  uint32_t value = attrib & kSettableAttributes;
  if (facts.folder) value |= kAttrDirectory;
  std::string bytes = EncodeDosAttrib(value, created);
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
  if (!ReadWriteFacts(-1, hostPath.c_str(), facts)) return FailErrno(errno, hostPath);
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

void BeginListing(const std::string& folder) { Listings().Begin(folder); }

bool DescribeFile(int dirFd, const char* name, const std::string& hostPath,
                  std::string_view shownName, FindEntry& entry, bool listed) {
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
  std::optional<DosAttrib> stored;
  bool dots = std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
  const std::optional<DosAttrib>* known =
      listed && dots ? Listings().Recall(StateOf(facts), false) : nullptr;
  if (known) {
    stored = *known;  // the folder or its parent, as its own listing or its parent's read it
  } else {
    stored = listedFolder ? ReadStoredAttributes(dirFd) : ReadStoredAttributes(hostPath);
  }
  // A link's value is its target's, so it is not remembered by the link's own state.
  if (listed && !link) Listings().Remember(StateOf(facts), stored);
  entry.attributes = ReportedAttributes(shownName, folder, link, stored);
  entry.lastWriteTime = FileTimeFromUnix(facts.st_mtim.tv_sec, facts.st_mtim.tv_nsec);
  entry.size = folder || link ? 0 : static_cast<uint64_t>(facts.st_size);
  return true;
}

}  // namespace plat::posix
