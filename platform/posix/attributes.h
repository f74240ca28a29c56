// Windows attributes of host files: read-only, hidden, system, archive and a
// few more are kept in user.DOSATTRIB (see dosattrib.h); the folder bit comes
// from the file type; a name beginning with "." is hidden.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/dosattrib.h"

namespace plat::posix {

// The bits that SetAttributes records; every other bit is ignored.
constexpr uint32_t kSettableAttributes = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive |
                                         kAttrTemporary | kAttrOffline | kAttrNotContentIndexed;

// The stored value of a file (following links), by path or by descriptor
// (fd >= 0); nullopt when there is none, it does not decode, or the file
// system keeps no user attributes.
std::optional<DosAttrib> ReadStoredAttributes(const std::string& hostPath);
std::optional<DosAttrib> ReadStoredAttributes(int fd);

// Records `attrib` (masked to the settable bits, with the folder bit for a
// folder), keeping the creation time of an existing value, else the file's
// birth time. The old value is read at the time of the write, so that a
// change made since a listing is kept. False with the last error set: that
// of the path when the file cannot be reached, 50 where the file system
// keeps no user attributes.
bool WriteStoredAttributes(const std::string& hostPath, uint32_t attrib);
bool WriteStoredAttributes(int fd, uint32_t attrib);

// The attribute bits that stored bits report: the settable ones.
inline uint32_t StoredBits(const std::optional<DosAttrib>& stored) {
  return stored ? stored->attrib & kSettableAttributes : 0;
}

// The raw user.DOSATTRIB value of a file (following links); nullopt when it
// has none. And storing one as it is; false with the last error set.
std::optional<std::string> ReadDosAttribValue(const std::string& hostPath);
bool WriteDosAttribValue(const std::string& hostPath, const std::string& value);

// True for a name that reports hidden by itself: ".x", not "." or "..".
bool IsHiddenName(std::string_view name);

// What a file reports: stored bits, hidden for a dot name, 0x10 for a folder,
// 0x400 for a link, 0x80 when nothing else is set.
uint32_t ReportedAttributes(std::string_view name, bool folder, bool link,
                            const std::optional<DosAttrib>& stored);

// A file's facts as a directory entry (name left alone): attributes, last
// write time and size. `dirFd` and `name` locate it for fstatat (AT_FDCWD and
// the full path are fine; the name "." with the descriptor of the folder
// being listed is that folder); `hostPath` is its full path. False with the
// last error set when it does not exist.
bool DescribeFile(int dirFd, const char* name, const std::string& hostPath,
                  std::string_view shownName, FindEntry& entry);

// The attributes of an entry of the folder open as `dirFd`, for a walk, as
// DescribeFile takes it: the entry type that the folder's listing gave (a
// DT_ value) says whether it is a folder, so that the stored value is the one
// thing to read. A link and an entry of unknown type are described in full,
// as DescribeFile does; the other entries report a last-write time and size
// of 0.
bool DescribeListedName(int dirFd, const char* name, const std::string& hostPath,
                        std::string_view shownName, unsigned char type, FindEntry& entry);

}  // namespace plat::posix
