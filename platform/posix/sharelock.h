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

// True when the file is a program or library image that a running process
// has loaded, which Windows refuses to write or delete. Only a file that
// begins with an image's signature (a PE image's "MZ", an ELF object's 0x7F
// "ELF") can be one, so `fd`, the file open for reading, decides any other
// file with one small read; an image is looked for in every process's
// /proc/<pid>/maps by its device and inode. With `fd` -1 (a file that cannot
// be read) every file is looked for.
bool ImageInUse(int fd, uint64_t device, uint64_t inode);

}  // namespace plat::posix
