#include "platform/posix/sharelock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "platform/posix/error.h"

namespace plat::posix {

namespace {

// The lock bytes, far beyond any real file's data.
constexpr off_t kLockBase = 0x7FFFFFFFFFFFF000;
enum LockByte : off_t { kHasRead = 1, kHasWrite, kDeniesRead, kDeniesWrite, kDeniesDelete };

// A gate that cannot be had within this time is held by a stuck program:
// the open fails as if the file were in use.
constexpr int kGateWaitMs = 2000;

struct flock LockOn(LockByte byte, short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kLockBase + byte;
  lock.l_len = 1;
  return lock;
}

// True when an open of another description holds `byte`.
bool HeldByOthers(int fd, LockByte byte) {
  struct flock lock = LockOn(byte, F_WRLCK);
  return fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

bool Take(int fd, LockByte byte) {
  struct flock lock = LockOn(byte, F_RDLCK);
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

}  // namespace

// The gate is a whole-file flock rather than an exclusive byte lock: an
// exclusive byte lock needs a descriptor open for writing, and read-only
// opens must pass the gate too.
// A file system without flock has no gate to pass.
ShareGate::ShareGate(int fd) : fd_(fd), held_(false), locked_(false) {
  for (int waited = 0; waited < kGateWaitMs; ++waited) {
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      held_ = locked_ = true;
      return;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      held_ = true;
      return;
    }
    timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
  }
}

ShareGate::~ShareGate() {
  if (locked_) flock(fd_, LOCK_UN);
}

bool AcquireShareMode(int fd, uint32_t access, uint32_t share) {
  ShareGate gate(fd);
  if (!gate.held()) return Fail(kErrorSharingViolation);
  bool conflict = ((access & kRead) && HeldByOthers(fd, kDeniesRead)) ||
                  ((access & kWrite) && HeldByOthers(fd, kDeniesWrite)) ||
                  (!(share & kShareRead) && HeldByOthers(fd, kHasRead)) ||
                  (!(share & kShareWrite) && HeldByOthers(fd, kHasWrite));
  if (conflict) return Fail(kErrorSharingViolation);
  bool taken = (!(access & kRead) || Take(fd, kHasRead)) &&
               (!(access & kWrite) || Take(fd, kHasWrite)) &&
               ((share & kShareRead) || Take(fd, kDeniesRead)) &&
               ((share & kShareWrite) || Take(fd, kDeniesWrite)) &&
               ((share & kShareDelete) || Take(fd, kDeniesDelete));
  // A file system without byte locks cannot share files; it still opens them.
  if (!taken && errno != ENOLCK && errno != EINVAL && errno != ENOTSUP) {
    return FailErrno(errno, "");
  }
  return true;
}

bool DeletionDenied(int fd) { return HeldByOthers(fd, kDeniesDelete); }

namespace {

// True when a process's maps text ("address perms offset major:minor inode
// path" lines) holds a mapping of the file. Nearly every line is of another
// file, so the inode's digits are looked for first and only the lines they
// stand in are read; a wine process maps thousands of files.
bool MapsHold(const std::string& maps, unsigned wantMajor, unsigned wantMinor, uint64_t inode) {
  const std::string digits = " " + std::to_string(inode);
  for (size_t at = maps.find(digits); at != std::string::npos; at = maps.find(digits, at + 1)) {
    size_t end = at + digits.size();
    if (end < maps.size() && maps[end] != ' ' && maps[end] != '\n') continue;
    size_t line = maps.rfind('\n', at);
    line = line == std::string::npos ? 0 : line + 1;
    unsigned lineMajor = 0, lineMinor = 0;
    uint64_t lineInode = 0;
    if (std::sscanf(maps.c_str() + line, "%*s %*s %*s %x:%x %" SCNu64, &lineMajor, &lineMinor,
                    &lineInode) == 3 &&
        lineInode == inode && lineMajor == wantMajor && lineMinor == wantMinor) {
      return true;
    }
  }
  return false;
}

// The whole of a /proc text file; false when it cannot be read.
bool ReadProcFile(const char* path, std::string& text) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  text.clear();
  char buffer[65536];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return true;
}

// True when a running process has the file mapped: any line of
// /proc/<pid>/maps with its device and inode.
bool MappedByAnyProcess(uint64_t device, uint64_t inode) {
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  unsigned wantMajor = major(device), wantMinor = minor(device);
  bool mapped = false;
  std::string maps;
  while (!mapped) {
    dirent* entry = readdir(proc);
    if (!entry) break;
    if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
    char path[300];
    std::snprintf(path, sizeof path, "/proc/%s/maps", entry->d_name);
    mapped = ReadProcFile(path, maps) && MapsHold(maps, wantMajor, wantMinor, inode);
  }
  closedir(proc);
  return mapped;
}

// True when the file begins as a PE or ELF image does; a file that cannot be
// read may be one.
bool MayBeImage(int fd) {
  if (fd < 0) return true;
  unsigned char start[4] = {};
  ssize_t got;
  do {
    got = pread(fd, start, sizeof start, 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return true;
  bool pe = got >= 2 && start[0] == 'M' && start[1] == 'Z';
  bool elf = got == 4 && std::memcmp(start, "\x7F" "ELF", 4) == 0;
  return pe || elf;
}

}  // namespace

bool ImageInUse(int fd, uint64_t device, uint64_t inode) {
  return MayBeImage(fd) && MappedByAnyProcess(device, inode);
}

}  // namespace plat::posix
