// Writes that no symbolic link can lead elsewhere. A user of the shared root
// may put a link anywhere in it; the programs, which may hold more rights
// than that user, must not then create, write, truncate, rename over, delete
// or change the attributes of what the link points at. So a written name is
// resolved first: its folder is held open, and the change is made to its
// last part in that folder, which is never followed. For a relative name
// (the shared root is the programs' current folder) no folder on the way is
// followed either. An absolute name's folders are the host's and those of
// the drive mapping (a drive is a link in the dosdevices folder), and are
// followed as the translation means them to be.
//
// Reads, and attribute changes, follow a link only while its target stays
// inside the current folder, as a file server does that keeps links within
// its share (Samba's "wide links = no").
#pragma once

#include <string>

namespace plat::posix {

// A written name: the folder it lies in, held open, and its last part
// ("." for a name that ends with a separator, which names a folder).
class WriteTarget {
 public:
  WriteTarget() = default;
  ~WriteTarget();
  WriteTarget(WriteTarget&& other) noexcept;
  WriteTarget& operator=(WriteTarget&& other) noexcept;
  WriteTarget(const WriteTarget&) = delete;
  WriteTarget& operator=(const WriteTarget&) = delete;

  // Resolves a host path. False with the last error set: 3 when a folder on
  // the way is missing or is no folder, 5 when it is a link that may not be
  // followed.
  bool Resolve(const std::string& host);
  int folder() const { return folder_; }
  const char* name() const { return name_.c_str(); }

 private:
  int folder_ = -1;  // an open descriptor, or AT_FDCWD
  std::string name_;
};

// True when the open file `fd` lies outside the current folder; false when
// that cannot be told (no /proc).
bool OutsideCurrentFolder(int fd);

// The path by which calls that take only paths reach the open file `fd`.
std::string DescriptorPath(int fd);

}  // namespace plat::posix
