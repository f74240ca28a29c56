// What every part of the launcher works with: the run's context, the message
// services that all of them report through, and the small file helpers they
// share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace launcher {

inline constexpr char kCaption[] = "Varnolet";
inline constexpr uint32_t kErrorStyle = 0x10;        // MB_ICONSTOP
inline constexpr uint32_t kInformationStyle = 0x40;  // MB_ICONINFORMATION
inline constexpr int kShowNormal = 1;                // SW_SHOWNORMAL

// Names and paths hold at most this many characters (a 260-byte buffer).
inline constexpr size_t kPathCapacity = 259;

inline constexpr char kDefaultLocalFolder[] = "C:\\_$MERIXA\\";

// What one launcher run works with.
struct Context {
  plat::Platform& os;
  uint32_t stampCounter = 0;  // gives stampless files a fresh, never-matching stamp
};

// Shows a message box, or writes the text to LASTMSG.LOG when the logged-on
// user is the account named in SYSTEM\LSAUSER.SYS.
void ShowMessage(Context& context, uint32_t owner, const std::string& text,
                 const std::string& caption, uint32_t style);

// Shows "#<last error> - Error while <what>" in the error style.
void ReportError(Context& context, const std::string& what);

// Shows `text` with the desktop as owner, the caption "Varnolet" and `style`.
void ShowLauncherMessage(Context& context, const std::string& text, uint32_t style);

// True when a directory search for `name` finds anything (folders and wildcard matches count).
bool FileExists(Context& context, const std::string& name);

// printf-style formatting into a string.
std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// True when `text` begins with `prefix`, ignoring ASCII letter case.
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);

// The text of a small file up to its first NUL byte, read with one read of at
// most 259 bytes, read sharing allowed. An empty text counts as a failed read.
enum class SmallRead { kOk, kOpenFailed, kReadFailed };
SmallRead ReadSmallFile(Context& context, const std::string& name, std::string& text);

// Creates or truncates a file without sharing and writes `text` into it.
// Callers that only care whether the file could be made test for kNotCreated.
enum class SmallWrite { kWritten, kNotCreated, kNotWritten };
SmallWrite WriteSmallFile(Context& context, const std::string& name, const std::string& text);

// The path of `name` in the local folder, or false after a message when it
// would not fit a 260-byte buffer.
bool LocalName(Context& context, const std::string& localFolder, const char* name, std::string& path);

}  // namespace launcher
