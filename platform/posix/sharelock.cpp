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

bool MappedByAnyProcess(uint64_t device, uint64_t inode) {
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  unsigned wantMajor = major(device), wantMinor = minor(device);
  bool mapped = false;
  while (!mapped) {
    dirent* entry = readdir(proc);
    if (!entry) break;
    if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
    char path[300];
    std::snprintf(path, sizeof path, "/proc/%s/maps", entry->d_name);
    FILE* maps = std::fopen(path, "re");
    if (!maps) continue;
    char line[4096];
    while (!mapped && std::fgets(line, sizeof line, maps)) {
      // address perms offset major:minor inode [path]
      unsigned lineMajor = 0, lineMinor = 0;
      uint64_t lineInode = 0;
      if (std::sscanf(line, "%*s %*s %*s %x:%x %" SCNu64, &lineMajor, &lineMinor, &lineInode) == 3) {
        mapped = lineInode == inode && lineMajor == wantMajor && lineMinor == wantMinor;
      }
      // A line longer than the buffer continues on the next read; skip its tail.
      while (!std::strchr(line, '\n') && std::fgets(line, sizeof line, maps)) {
      }
    }
    std::fclose(maps);
  }
  closedir(proc);
  return mapped;
}

}  // namespace plat::posix
