#include "platform/posix/paths.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/error.h"

namespace plat::posix {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasDrive(const std::string& path) {
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

bool IsUnc(const std::string& path) {
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

std::string CurrentHostFolder() {
  char buffer[PATH_MAX];
  return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string("/");
}

// The parts of `rest` with "." dropped and ".." applied, never above the root.
std::vector<std::string> NormalParts(const std::string& rest) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = start;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    std::string part = rest.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  return parts;
}

// `base` (a folder that may be a link) followed by the normalised parts of
// `rest`; a bare base keeps a trailing slash so that a link is followed.
std::string Below(const std::string& base, const std::string& rest) {
  std::string host = base;
  std::vector<std::string> parts = NormalParts(rest);
  if (parts.empty()) return host + "/";
  for (const std::string& part : parts) host += "/" + part;
  return host;
}

std::string Slashed(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

std::string Backslashed(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

bool IsDriveEntry(const char* name) {
  return std::islower(static_cast<unsigned char>(name[0])) && name[1] == ':' && name[2] == '\0';
}

// The folders that stand for drives and UNC shares, with their Windows roots.
struct Mount {
  std::string host;
  std::string windows;
};

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// A drive or share is found both by its entry's own path and by its target.
void AddMount(std::vector<Mount>& mounts, const std::string& entry, const std::string& windows) {
  mounts.push_back({WithoutTrailingSlashes(entry), windows});
  std::string real = RealPath(entry);
  if (!real.empty() && real != entry) mounts.push_back({real, windows});
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    }
    closedir(dir);
  }
  return names;
}

std::vector<Mount> Mounts() {
  std::vector<Mount> mounts;
  std::string devices = DosDevicesFolder();
  for (const std::string& name : FolderNames(devices)) {
    if (IsDriveEntry(name.c_str())) {
      AddMount(mounts, devices + "/" + name,
               std::string(1, static_cast<char>(std::toupper(name[0]))) + ":");
    }
  }
  std::string unc = devices + "/unc";
  for (const std::string& server : FolderNames(unc)) {
    for (const std::string& share : FolderNames(unc + "/" + server)) {
      AddMount(mounts, unc + "/" + server + "/" + share, "\\\\" + server + "\\" + share);
    }
  }
  return mounts;
}

// True when `path` is `folder` or lies inside it.
bool Inside(const std::string& path, const std::string& folder) {
  if (folder == "/") return true;
  return path.compare(0, folder.size(), folder) == 0 &&
         (path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace

std::string DosDevicesFolder() {
  const char* own = std::getenv("QZ_DOSDEVICES");
  if (own && *own) return own;
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix && *prefix) return std::string(prefix) + "/dosdevices";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.wine/dosdevices";
}

std::string ToHostPath(const std::string& windowsPath) {
  if (IsUnc(windowsPath)) {
    // \\server\share\rest: the share is a folder two levels below unc/.
    std::vector<std::string> parts = NormalParts(windowsPath.substr(2));
    std::string host = DosDevicesFolder() + "/unc";
    for (const std::string& part : parts) host += "/" + part;
    return parts.size() <= 2 ? host + "/" : host;
  }
  if (HasDrive(windowsPath)) {
    char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
    std::string rest = windowsPath.substr(2);
    if (rest.empty() || !IsSeparator(rest[0])) {
      // "C:name" is relative to the current folder when that is on drive C:.
      std::string current = CurrentHostFolder();
      std::string windows = ToWindowsPath(current);
      if (HasDrive(windows) && std::tolower(static_cast<unsigned char>(windows[0])) == letter) {
        return rest.empty() ? current : current + "/" + Slashed(rest);
      }
    }
    return Below(DosDevicesFolder() + "/" + letter + ":", rest);
  }
  if (!windowsPath.empty() && IsSeparator(windowsPath[0])) {
    // Rooted without a drive: on the current folder's drive or share, else the host root.
    std::string windows = ToWindowsPath(CurrentHostFolder());
    if (HasDrive(windows)) return ToHostPath(windows.substr(0, 2) + windowsPath);
    if (IsUnc(windows)) {
      std::vector<std::string> parts = NormalParts(windows.substr(2));
      if (parts.size() >= 2) return ToHostPath("\\\\" + parts[0] + "\\" + parts[1] + windowsPath);
    }
    std::vector<std::string> parts = NormalParts(windowsPath);
    std::string host;
    for (const std::string& part : parts) host += "/" + part;
    return host.empty() ? "/" : host;
  }
  return Slashed(windowsPath);
}

std::string ToWindowsPath(const std::string& hostPath) {
  std::string path = hostPath;
  if (path.empty() || path[0] != '/') path = CurrentHostFolder() + "/" + path;
  path = WithoutTrailingSlashes(path);
  std::vector<Mount> mounts = Mounts();
  const Mount* best = nullptr;
  for (const Mount& mount : mounts) {
    if (Inside(path, mount.host) && (!best || mount.host.size() > best->host.size())) best = &mount;
  }
  if (!best) return Backslashed(path);
  std::string rest = best->host == "/" ? path : path.substr(best->host.size());
  if (rest.empty()) return best->windows + (HasDrive(best->windows) ? "\\" : "");
  return best->windows + Backslashed(rest);
}

bool TranslatePath(const std::string& windowsPath, std::string& hostPath) {
  if (windowsPath.size() >= kMaxPathText) return Fail(kErrorFilenameTooLong);
  if (windowsPath.empty()) return Fail(kErrorPathNotFound);
  hostPath = ToHostPath(windowsPath);
  return true;
}

std::string LastPart(const std::string& windowsPath) {
  size_t end = windowsPath.size();
  while (end > 0 && IsSeparator(windowsPath[end - 1])) --end;
  size_t start = end;
  while (start > 0 && !IsSeparator(windowsPath[start - 1]) && windowsPath[start - 1] != ':') {
    --start;
  }
  return windowsPath.substr(start, end - start);
}

}  // namespace plat::posix
