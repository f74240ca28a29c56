// Windows share modes and "file in use" among processes on POSIX.
//
// POSIX has no share modes. The closest honest behaviour it allows: each open
// made through this layer takes shared open-file-description locks on a few
// bytes far beyond any real data, one byte each for "has read access", "has
// write access", "denies read", "denies write" and "denies delete". An opener
// tests the bytes that conflict with what it wants and denies (a conflict is
// error 32) and then takes its own bytes, inside a short exclusive gate so
// that two openers cannot both pass the test. Only programs that use this
// layer see these locks; other programs open the files freely.
#pragma once

#include <cstdint>
#include <string>

namespace plat::posix {

// Holds a file's gate while a test and the change it guards happen.
class ShareGate {
 public:
  explicit ShareGate(int fd);
  ~ShareGate();
  ShareGate(const ShareGate&) = delete;
  ShareGate& operator=(const ShareGate&) = delete;
  bool held() const { return held_; }

 private:
  int fd_;
  bool held_;    // the gate may be passed
  bool locked_;  // and this object holds its lock
};

// Checks `access` (plat::Access bits) and `share` (plat::Share bits) against
// the other opens of the file and records them for `fd`. False with last
// error 32 when another open conflicts.
bool AcquireShareMode(int fd, uint32_t access, uint32_t share);

// True when another open of the file denies deletion (and so renaming).
// Call it with the gate held.
bool DeletionDenied(int fd);

// True when a running process has the file mapped (a loaded program or
// library): any line of /proc/<pid>/maps with its device and inode.
bool MappedByAnyProcess(uint64_t device, uint64_t inode);

}  // namespace plat::posix
