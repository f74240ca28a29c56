// Translation between the Windows paths that the programs use and host paths.
//
// `\` and `/` both separate; a drive `X:` is the entry `x:` (lower-case
// letter and colon, a link or a folder) of the dosdevices folder, as wine has
// it; `\\server\share\rest` is `unc/server/share/rest` inside that folder. The
// dosdevices folder is $QZ_DOSDEVICES, else $WINEPREFIX/dosdevices, else
// $HOME/.wine/dosdevices, read at every call. Relative paths stay relative to
// the current folder; a path rooted without a drive (`\x`) is rooted on the
// current folder's drive, or on the host root when the current folder is on
// no drive. Names keep their case.
#pragma once

#include <string>

namespace plat::posix {

// The dosdevices folder currently in force.
std::string DosDevicesFolder();

// The host path of a Windows path.
std::string ToHostPath(const std::string& windowsPath);

// The Windows path of an absolute host path: the drive (or UNC share) whose
// folder holds it, the longest match winning; else the host path with its
// slashes turned into backslashes (rooted, without a drive).
std::string ToWindowsPath(const std::string& hostPath);

}  // namespace plat::posix

namespace plat::posix {

// Paths of this many characters or more fail, as Windows' ANSI file calls refuse them.
constexpr size_t kMaxPathText = 260;

// ToHostPath for a file operation: false with last error 206 when the path
// is 260 characters or longer, 3 when it is empty.
bool TranslatePath(const std::string& windowsPath, std::string& hostPath);

// The last part of a Windows path (after the last `\`, `/` or drive colon),
// ignoring trailing separators: "C:\a\b.txt" gives "b.txt", "C:\" gives "".
std::string LastPart(const std::string& windowsPath);

}  // namespace plat::posix
