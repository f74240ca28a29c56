#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/attributes.h"
#include "platform/posix/error.h"
#include "platform/posix/facets.h"
#include "platform/posix/inifile.h"
#include "platform/posix/nofollow.h"
#include "platform/posix/paths.h"
#include "platform/posix/sharelock.h"
#include "platform/posix/wildcard.h"

namespace plat::posix {

namespace {

constexpr uint32_t kErrorNegativeSeek = 131;
constexpr uint32_t kErrorDirectory = 267;

class PosixFile : public File {
 public:
  PosixFile(int fd, uint32_t access) : fd_(fd), access_(access) {}
  ~PosixFile() override { close(fd_); }

  int fd() const { return fd_; }

  bool Read(void* buffer, uint32_t count, uint32_t& done) override {
    done = 0;
    if (!(access_ & kRead)) return Fail(kErrorAccessDenied);
    while (done < count) {
      ssize_t got = read(fd_, static_cast<char*>(buffer) + done, count - done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return FailErrno(errno, "");
      if (got == 0) break;
      done += static_cast<uint32_t>(got);
    }
    return true;
  }

  bool Write(const void* buffer, uint32_t count, uint32_t& done) override {
    done = 0;
    if (!(access_ & kWrite)) return Fail(kErrorAccessDenied);
    while (done < count) {
      ssize_t put = write(fd_, static_cast<const char*>(buffer) + done, count - done);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return FailErrno(errno, "");
      done += static_cast<uint32_t>(put);
    }
    return true;
  }

  bool Seek(int64_t offset, SeekOrigin origin, uint64_t* position) override {
    int whence = origin == SeekOrigin::kBegin ? SEEK_SET : origin == SeekOrigin::kCurrent ? SEEK_CUR : SEEK_END;
    off_t result = lseek(fd_, offset, whence);
    if (result < 0) return Fail(errno == EINVAL ? kErrorNegativeSeek : WindowsError(errno));
    if (position) *position = static_cast<uint64_t>(result);
    return true;
  }

  bool Size(uint64_t& size) override {
    struct stat facts;
    if (fstat(fd_, &facts) != 0) return FailErrno(errno, "");
    size = static_cast<uint64_t>(facts.st_size);
    return true;
  }

  bool Truncate(uint64_t size) override {
    return ftruncate(fd_, static_cast<off_t>(size)) == 0 || FailErrno(errno, "");
  }

  // Reads everything from the current position on.
  bool ReadAll(std::string& content) {
    char buffer[65536];
    for (;;) {
      uint32_t done = 0;
      if (!Read(buffer, sizeof buffer, done)) return false;
      if (done == 0) return true;
      content.append(buffer, done);
    }
  }

 private:
  int fd_;
  uint32_t access_;
};

struct Opened {
  std::unique_ptr<PosixFile> file;
  bool created = false;
  WriteTarget target;  // where a file that this opens for a change lies
};

enum class Creation { kCreated, kExists, kFailed };

// Gives a file that nobody else can see yet its share mode and attributes.
bool GuardNewFile(int fd, uint32_t access, uint32_t share, uint32_t newAttributes) {
  return AcquireShareMode(fd, access, share) && WriteStoredAttributes(fd, newAttributes);
}

// Creates a file in one step, as Windows does: the file gets its share mode
// and attributes while it has no name, and only then appears under its name
// in the target's folder, so that no other process can open it empty and
// unguarded in between (a start copying an identity file that another start
// is creating would otherwise copy nothing). A file system without unnamed
// files, or a host without /proc, gets the name first and the guard right
// after. Neither way follows a link that holds the name: it exists.
Creation CreateHostFile(const WriteTarget& target, int mode, uint32_t access, uint32_t share,
                        uint32_t newAttributes, int& fd) {
  fd = openat(target.folder(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd >= 0) {
    bool guarded = GuardNewFile(fd, access, share, newAttributes);
    if (guarded && linkat(AT_FDCWD, DescriptorPath(fd).c_str(), target.folder(), target.name(),
                          AT_SYMLINK_FOLLOW) == 0) {
      return Creation::kCreated;
    }
    int error = errno;
    close(fd);
    fd = -1;
    if (!guarded) return Creation::kFailed;
    if (error == EEXIST) return Creation::kExists;
    if (error != ENOENT || ::access("/proc/self/fd", X_OK) == 0) {
      Fail(WindowsError(error));
      return Creation::kFailed;
    }
  }
  fd = openat(target.folder(), target.name(), mode | O_CREAT | O_EXCL, 0666);
  if (fd < 0) {
    if (errno == EEXIST) return Creation::kExists;
    Fail(WindowsError(errno));
    return Creation::kFailed;
  }
  if (!GuardNewFile(fd, access, share, newAttributes)) {
    // Leave nothing half made. Closed first: a file system with Windows'
    // rules (a share mounted through SMB) keeps an open file's name, and an
    // empty file left there would stop every later reader.
    uint32_t error = LastError();
    close(fd);
    fd = -1;
    unlinkat(target.folder(), target.name(), 0);
    SetLastError(error);
    return Creation::kFailed;
  }
  return Creation::kCreated;
}

// Only regular files are opened: Windows opens no folder as a file, and a
// FIFO or a device is no file of the shared root (opening one could block
// or act on the device). A link that a change met is refused as well.
bool IsPlainFile(const struct stat& facts) { return S_ISREG(facts.st_mode); }

// Opens an existing file, refusing (5) what is not a regular file before
// and after the open, which does not block. A change opens the name in its
// folder without following a link there (a link is refused); a read follows
// links, but for a relative name not out of the current folder. -1 with the
// last error set when it cannot be opened.
int OpenExisting(const std::string& host, const WriteTarget* change, int mode) {
  struct stat facts;
  bool found = change ? fstatat(change->folder(), change->name(), &facts, AT_SYMLINK_NOFOLLOW) == 0
                      : stat(host.c_str(), &facts) == 0;
  if (found && !IsPlainFile(facts)) {
    Fail(kErrorAccessDenied);
    return -1;
  }
  mode |= O_NONBLOCK | O_NOCTTY;
  int fd = change ? openat(change->folder(), change->name(), mode | O_NOFOLLOW)
                  : open(host.c_str(), mode);
  if (fd < 0) {
    FailErrno(errno == ELOOP ? EACCES : errno, host);
    return -1;
  }
  bool refused = fstat(fd, &facts) != 0 || !IsPlainFile(facts) ||
                 (!change && host[0] != '/' && OutsideCurrentFolder(fd)) ||
                 fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0;
  if (refused) {
    close(fd);
    Fail(kErrorAccessDenied);
    return -1;
  }
  return fd;
}

// Opens a host file as CreateFile does, with the share mode of this layer.
// A file that this creates, and one that kCreateAlways overwrites, records
// `newAttributes`; kCreateAlways refuses to overwrite a hidden or system file
// unless `newAttributes` keeps that bit, as Windows does.
Opened OpenHost(const std::string& host, uint32_t access, uint32_t share, Disposition disposition,
                uint32_t newAttributes = kAttrArchive) {
  bool overwrite = disposition == Disposition::kCreateAlways;
  bool writes = (access & kWrite) || overwrite;
  bool changes = writes || disposition != Disposition::kOpenExisting;
  int mode = (writes ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  Opened result;
  int fd = -1;
  if (changes && !result.target.Resolve(host)) return {};
  if (disposition != Disposition::kOpenExisting) {
    switch (CreateHostFile(result.target, mode, access, share, newAttributes, fd)) {
      case Creation::kCreated:
        result.file = std::make_unique<PosixFile>(fd, access);
        result.created = true;
        SetLastError(kErrorSuccess);
        return result;
      case Creation::kFailed:
        return {};
      case Creation::kExists:
        if (disposition == Disposition::kCreateNew) {
          Fail(kErrorFileExists);
          return {};
        }
        break;
    }
  }
  fd = OpenExisting(host, changes ? &result.target : nullptr, mode);
  if (fd < 0) return {};
  result.file = std::make_unique<PosixFile>(fd, access);
  struct stat facts;
  fstat(fd, &facts);
  uint32_t stored = StoredBits(ReadStoredAttributes(fd));
  if (writes && (stored & kAttrReadOnly)) {
    Fail(kErrorAccessDenied);
    return {};
  }
  if (overwrite && (stored & (kAttrHidden | kAttrSystem) & ~newAttributes)) {
    Fail(kErrorAccessDenied);
    return {};
  }
  if (!AcquireShareMode(fd, access, share)) return {};
  // A running program's image or library may not be written, as on Windows.
  if (writes && ImageInUse(fd, facts.st_dev, facts.st_ino)) {
    Fail(kErrorSharingViolation);
    return {};
  }
  if (overwrite && (!WriteStoredAttributes(fd, newAttributes) || !result.file->Truncate(0))) {
    return {};
  }
  // Windows reports an existing file this way, even though the call succeeds.
  SetLastError(disposition == Disposition::kOpenExisting || disposition == Disposition::kCreateNew
                   ? kErrorSuccess
                   : kErrorAlreadyExists);
  return result;
}

bool CopyData(int from, int to) {
  bool plain = false;
  for (;;) {
    ssize_t moved = 0;
    if (!plain) {
      moved = copy_file_range(from, nullptr, to, nullptr, size_t{1} << 30, 0);
      if (moved < 0 && errno == EINTR) continue;
      if (moved < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == ENOTSUP)) {
        plain = true;  // go on with read and write from where it stopped
        continue;
      }
    } else {
      char buffer[65536];
      moved = read(from, buffer, sizeof buffer);
      if (moved < 0 && errno == EINTR) continue;
      for (ssize_t put = 0, written = 0; moved > 0 && written < moved; written += put) {
        put = write(to, buffer + written, static_cast<size_t>(moved - written));
        if (put < 0 && errno != EINTR) return FailErrno(errno, "");
        if (put < 0) put = 0;
      }
    }
    if (moved < 0) return FailErrno(errno, "");
    if (moved == 0) return true;
  }
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The folder part of a search pattern, with its separator: "C:\a\" of "C:\a\*.txt".
size_t NamePartStart(const std::string& pattern) {
  size_t start = pattern.size();
  while (start > 0 && !IsSeparator(pattern[start - 1]) && pattern[start - 1] != ':') --start;
  return start;
}

// True for the root folder of a drive, of a share, or of the host.
bool IsRootFolder(const std::string& folder) {
  std::string path = folder;
  while (!path.empty() && IsSeparator(path.back())) path.pop_back();
  if (path.empty()) return !folder.empty();
  if (path.size() == 2 && path[1] == ':') return path.size() < folder.size();
  if (path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    size_t server = path.find_first_of("\\/", 2);
    return server != std::string::npos && path.find_first_of("\\/", server + 1) == std::string::npos;
  }
  return false;
}

std::string Joined(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool IsSelfOrParent(std::string_view name) { return name == "." || name == ".."; }

// The search of a folder, which it holds open: the entries are read from the
// folder's listing a block at a time and described one by one. A search for
// a walk leaves out "." and ".." and describes the entries from the types
// that the listing gives.
class PosixSearch : public DirectorySearch {
 public:
  PosixSearch(int fd, const std::string& folder, std::string pattern, bool withoutDots, bool forWalk)
      : fd_(fd), pattern_(std::move(pattern)), everyName_(pattern_ == "*" || pattern_ == "*.*"),
        withoutDots_(withoutDots), forWalk_(forWalk) {
    path_.reserve(folder.size() + 1 + NAME_MAX);  // room for every name
    path_ += folder;
    if (!path_.empty() && path_.back() != '/') path_ += '/';
    folderLength_ = path_.size();
  }
  ~PosixSearch() override { close(fd_); }

  bool Next(FindEntry& entry) override {
    while (const dirent64* listed = NextListed()) {
      std::string_view name = listed->d_name;
      if (!Wanted(name)) continue;
      path_.resize(folderLength_);
      path_ += name;
      // An entry removed since the folder was read is skipped.
      if (forWalk_ ? DescribeListedName(fd_, listed->d_name, path_, name, listed->d_type, entry)
                   : DescribeFile(fd_, listed->d_name, path_, name, entry)) {
        entry.name.clear();  // and appended to: cheaper than assign, the room is kept
        entry.name.append(name);
        return true;
      }
    }
    return Fail(kErrorNoMoreFiles);
  }

 private:
  // The next entry of the listing; null at its end.
  const dirent64* NextListed() {
    if (at_ >= got_) {
      got_ = ended_ ? 0 : getdents64(fd_, block_, sizeof block_);
      at_ = 0;
      ended_ = got_ <= 0;
      if (ended_) return nullptr;
    }
    const auto* entry = reinterpret_cast<const dirent64*>(block_ + at_);
    at_ += entry->d_reclen;
    return entry;
  }

  bool Wanted(std::string_view name) const {
    if (withoutDots_ && IsSelfOrParent(name)) return false;
    return everyName_ || MatchesPattern(pattern_, name);  // listings ask for every name
  }

  int fd_;
  std::string pattern_;
  bool everyName_, withoutDots_, forWalk_;
  // The folder and its separator, followed by the name of the entry at hand.
  std::string path_;
  size_t folderLength_ = 0;
  alignas(dirent64) char block_[32768];
  ssize_t got_ = 0, at_ = 0;
  bool ended_ = false;
};

// The search for a plain name, whose one entry FindFirst gives.
class OneEntrySearch : public DirectorySearch {
 public:
  bool Next(FindEntry&) override { return Fail(kErrorNoMoreFiles); }
};

// Opens the name in its folder with `flags`, following a link there only
// while its target stays inside the current folder. -1 with errno set
// otherwise, EACCES for a link that leads out.
int OpenFollowingInside(const WriteTarget& target, int flags) {
  int fd = openat(target.folder(), target.name(), flags | O_NOFOLLOW);
  struct stat facts;
  bool link = fd < 0 ? errno == ELOOP  // the open of a link itself (O_PATH) gives the link
                     : (flags & O_PATH) && fstat(fd, &facts) == 0 && S_ISLNK(facts.st_mode);
  if (!link) return fd;
  if (fd >= 0) close(fd);
  fd = openat(target.folder(), target.name(), flags);
  if (fd >= 0 && OutsideCurrentFolder(fd)) {
    close(fd);
    errno = EACCES;
    return -1;
  }
  return fd;
}

// Opens a file only to test its share locks; -1 where it cannot be opened.
int OpenForShareTest(const WriteTarget& target) {
  return openat(target.folder(), target.name(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<DirectorySearch> FindFirst(const std::string& pattern, FindEntry& first) override {
    return Search(pattern, first, false);
  }

  std::unique_ptr<DirectorySearch> FindFirstForWalk(const std::string& pattern,
                                                    FindEntry& first) override {
    return Search(pattern, first, true);
  }

  uint32_t GetAttributes(const std::string& path) override {
    std::string host;
    FindEntry facts;
    if (!TranslatePath(path, host) || !DescribeFile(AT_FDCWD, host.c_str(), host, LastPart(path), facts)) {
      return kInvalidAttributes;
    }
    return facts.attributes;
  }

  // A link's attributes are its target's, as a listing reports them: the
  // change goes to the target, but only while it stays inside the current
  // folder (5 otherwise). The file is opened for reading, so that the
  // attribute calls take its descriptor; one that may not be read is
  // reached through its descriptor's path.
  bool SetAttributes(const std::string& path, uint32_t attributes) override {
    std::string host;
    WriteTarget target;
    if (!TranslatePath(path, host) || !target.Resolve(host)) return false;
    int fd = OpenFollowingInside(target, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    bool readable = fd >= 0;
    if (!readable && errno == EACCES) fd = OpenFollowingInside(target, O_PATH | O_CLOEXEC);
    if (fd < 0) return FailErrno(errno, host);
    bool written = readable ? WriteStoredAttributes(fd, attributes)
                            : WriteStoredAttributes(DescriptorPath(fd), attributes);
    close(fd);
    return written;
  }

  bool LeadsOutside(const std::string& path) override {
    std::string host;
    if (!TranslatePath(path, host)) return false;
    int fd = open(host.c_str(), O_PATH | O_CLOEXEC);
    bool outside = fd >= 0 && OutsideCurrentFolder(fd);
    if (fd >= 0) close(fd);
    return outside;
  }

  // As CopyFile: the copy gets the source's attributes and archive, its last
  // write time and permission bits; a copy that this call created is removed
  // again when it fails halfway.
  bool Copy(const std::string& from, const std::string& to, bool failIfExists) override {
    std::string fromHost, toHost;
    if (!TranslatePath(from, fromHost) || !TranslatePath(to, toHost)) return false;
    Opened source = OpenHost(fromHost, kRead, kShareRead | kShareDelete, Disposition::kOpenExisting);
    if (!source.file) return false;
    struct stat facts;
    if (fstat(source.file->fd(), &facts) != 0) return FailErrno(errno, fromHost);
    uint32_t attributes = StoredBits(ReadStoredAttributes(source.file->fd())) | kAttrArchive;
    Opened target = OpenHost(toHost, kWrite, kShareNone,
                             failIfExists ? Disposition::kCreateNew : Disposition::kCreateAlways,
                             attributes);
    if (!target.file) return false;
    int out = target.file->fd();
    timespec times[2] = {{0, UTIME_OMIT}, facts.st_mtim};
    bool copied = CopyData(source.file->fd(), out) &&
                  (fchmod(out, facts.st_mode & 0777) == 0 || FailErrno(errno, toHost)) &&
                  (futimens(out, times) == 0 || FailErrno(errno, toHost));
    if (!copied && target.created) {
      uint32_t error = LastError();
      unlinkat(target.target.folder(), target.target.name(), 0);
      SetLastError(error);
    }
    if (copied) SetLastError(kErrorSuccess);
    return copied;
  }

  // A link is deleted itself, never what it points at.
  bool Delete(const std::string& path) override {
    std::string host;
    WriteTarget target;
    if (!TranslatePath(path, host) || !target.Resolve(host)) return false;
    struct stat facts;
    if (fstatat(target.folder(), target.name(), &facts, AT_SYMLINK_NOFOLLOW) != 0) {
      return FailErrno(errno, host);
    }
    if (S_ISDIR(facts.st_mode)) return Fail(kErrorAccessDenied);
    if (!S_ISREG(facts.st_mode)) {
      return unlinkat(target.folder(), target.name(), 0) == 0 || FailErrno(errno, host);
    }
    int fd = OpenForShareTest(target);
    std::unique_ptr<ShareGate> gate;
    if (fd >= 0) gate = std::make_unique<ShareGate>(fd);
    bool deleted = false;
    if (gate && (!gate->held() || DeletionDenied(fd))) {
      Fail(kErrorSharingViolation);
    } else if (StoredBits(fd >= 0 ? ReadStoredAttributes(fd) : ReadStoredAttributes(host)) &
               kAttrReadOnly) {
      Fail(kErrorAccessDenied);
    } else if (ImageInUse(fd, facts.st_dev, facts.st_ino)) {
      Fail(kErrorAccessDenied);  // Windows refuses to delete a loaded image
    } else {
      deleted = unlinkat(target.folder(), target.name(), 0) == 0 || FailErrno(errno, host);
    }
    gate.reset();
    if (fd >= 0) close(fd);
    return deleted;
  }

  bool Rename(const std::string& from, const std::string& to) override {
    std::string fromHost, toHost;
    WriteTarget source, target;
    if (!TranslatePath(from, fromHost) || !TranslatePath(to, toHost) || !source.Resolve(fromHost) ||
        !target.Resolve(toHost)) {
      return false;
    }
    struct stat facts, existing;
    if (fstatat(source.folder(), source.name(), &facts, AT_SYMLINK_NOFOLLOW) != 0) {
      return FailErrno(errno, fromHost);
    }
    if (fstatat(target.folder(), target.name(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
      return Fail(kErrorAlreadyExists);
    }
    int fd = S_ISREG(facts.st_mode) ? OpenForShareTest(source) : -1;
    std::unique_ptr<ShareGate> gate;
    if (fd >= 0) gate = std::make_unique<ShareGate>(fd);
    bool renamed = false;
    if (gate && (!gate->held() || DeletionDenied(fd))) {
      Fail(kErrorSharingViolation);
    } else if (renameat2(source.folder(), source.name(), target.folder(), target.name(),
                         RENAME_NOREPLACE) == 0) {
      renamed = true;
    } else if (errno == EINVAL &&
               renameat(source.folder(), source.name(), target.folder(), target.name()) == 0) {
      renamed = true;  // a file system without the no-replace flag; the target was tested above
    } else {
      Fail(errno == EEXIST ? kErrorAlreadyExists : WindowsError(errno, toHost));
    }
    gate.reset();
    if (fd >= 0) close(fd);
    return renamed;
  }

  bool MakeFolder(const std::string& path) override {
    std::string host;
    WriteTarget target;
    if (!TranslatePath(path, host) || !target.Resolve(host)) return false;
    if (mkdirat(target.folder(), target.name(), 0777) == 0) return true;
    return FailErrno(errno, host, true);  // 183 when it exists, 3 when the parent is missing
  }

  std::unique_ptr<File> Open(const std::string& path, uint32_t access, uint32_t share,
                             Disposition disposition) override {
    std::string host;
    if (!TranslatePath(path, host)) return nullptr;
    return std::move(OpenHost(host, access, share, disposition).file);
  }

  bool WriteIniString(const std::string& section, const std::string& key, const std::string& value,
                      const std::string& file) override {
    std::string host;
    if (!TranslatePath(file, host)) return false;
    Opened ini = OpenHost(host, kReadWrite, kShareRead, Disposition::kOpenAlways);
    std::string text;
    if (!ini.file || !ini.file->ReadAll(text)) return false;
    std::string updated = WriteIniValue(text, section, key, value);
    uint32_t done = 0;
    if (updated.size() > UINT32_MAX) return Fail(kErrorNotEnoughMemory);
    bool written = ini.file->Seek(0, SeekOrigin::kBegin, nullptr) &&
                   ini.file->Write(updated.data(), static_cast<uint32_t>(updated.size()), done) &&
                   ini.file->Truncate(updated.size());
    if (written) SetLastError(kErrorSuccess);
    return written;
  }

  bool GetCurrentFolder(std::string& folder) override {
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof buffer)) return FailErrno(errno, "");
    folder = ToWindowsPath(buffer);
    return true;
  }

  bool SetCurrentFolder(const std::string& folder) override {
    std::string host;
    if (!TranslatePath(folder, host)) return false;
    if (chdir(host.c_str()) == 0) return true;
    struct stat facts;
    if (errno == ENOTDIR && stat(host.c_str(), &facts) == 0) return Fail(kErrorDirectory);
    return FailErrno(errno, host);
  }

 private:
  // A search for a walk leaves out "." and ".." and describes the entries
  // from the types that the folder's listing gives.
  static std::unique_ptr<DirectorySearch> Search(const std::string& pattern, FindEntry& first,
                                                 bool forWalk) {
    if (pattern.size() >= kMaxPathText) return FailSearch(kErrorFilenameTooLong);
    size_t nameStart = NamePartStart(pattern);
    std::string folderPart = pattern.substr(0, nameStart), name = pattern.substr(nameStart);
    if (name.empty()) return FailSearch(kErrorFileNotFound);
    std::string folder = folderPart.empty() ? "." : ToHostPath(folderPart);
    if (!HasWildcards(name)) {
      // A plain name is one lookup; the file system decides about case.
      std::string host = Joined(folder, name);
      if (!DescribeFile(AT_FDCWD, host.c_str(), host, name, first)) return nullptr;
      first.name = name;
      return std::make_unique<OneEntrySearch>();
    }
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      return FailSearch(errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound : WindowsError(errno));
    }
    bool withoutDots = forWalk || IsRootFolder(folderPart);
    auto search = std::make_unique<PosixSearch>(fd, folder, std::move(name), withoutDots, forWalk);
    if (!search->Next(first)) return FailSearch(kErrorFileNotFound);
    return search;
  }

  static std::unique_ptr<DirectorySearch> FailSearch(uint32_t error) {
    SetLastError(error);
    return nullptr;
  }
};

}  // namespace

FileSystem& NativeFileSystem() {
  static PosixFileSystem files;
  return files;
}

}  // namespace plat::posix
