// The operating-system services that QZSTART and QZBACKUP use, as one small
// interface grouped by facet. platform/posix/ and platform/win32/ implement it;
// they are the only files that include operating-system headers.
//
// Conventions for every facet:
// - Paths and texts are Windows texts: single bytes, backslashes, drive letters.
//   The POSIX backend translates them at this boundary.
// - A call that fails leaves the thread's last error set to the Windows error
//   number of the failure (see LastError), so that messages read the same on
//   both platforms.
// - Window and module handles and entry points are 32-bit numbers, as on i686.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

// Windows error numbers that the programs and the POSIX backend use.
enum : uint32_t {
  kErrorSuccess = 0,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorBadFormat = 11,
  kErrorNoMoreFiles = 18,
  kErrorSharingViolation = 32,
  kErrorHandleEof = 38,
  kErrorNotSupported = 50,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorInsufficientBuffer = 122,
  kErrorInvalidName = 123,
  kErrorModNotFound = 126,
  kErrorProcNotFound = 127,
  kErrorDirNotEmpty = 145,
  kErrorAlreadyExists = 183,
  kErrorBadExeFormat = 193,
  kErrorFilenameTooLong = 206,
  kErrorNoAssociation = 1155,
  kErrorSingleInstanceApp = 1152,
  kErrorNoNetwork = 1222,
};

// The calling thread's last error, as Windows numbers it.
uint32_t LastError();
void SetLastError(uint32_t error);

// File attribute bits, as Windows numbers them.
enum : uint32_t {
  kAttrReadOnly = 0x1,
  kAttrHidden = 0x2,
  kAttrSystem = 0x4,
  kAttrVolumeLabel = 0x8,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrDevice = 0x40,
  kAttrNormal = 0x80,
  kAttrTemporary = 0x100,
  kAttrSparse = 0x200,
  kAttrReparsePoint = 0x400,
  kAttrCompressed = 0x800,
  kAttrOffline = 0x1000,
  kAttrNotContentIndexed = 0x2000,
  kAttrEncrypted = 0x4000,
  kAttrBit15 = 0x8000,
  kInvalidAttributes = 0xFFFFFFFF,
};

// FILETIME: 100-nanosecond intervals since 1 January 1601, UTC.
using FileTime = uint64_t;

// One entry of a directory search.
struct FindEntry {
  std::string name;  // long name, no folder part
  uint32_t attributes = 0;
  FileTime lastWriteTime = 0;
  uint64_t size = 0;
};

// An open directory search; closed when destroyed.
class DirectorySearch {
 public:
  virtual ~DirectorySearch() = default;
  // The next matching entry; false with last error 18 at the end.
  virtual bool Next(FindEntry& entry) = 0;
};

enum Access : uint32_t { kRead = 1, kWrite = 2, kReadWrite = 3 };
enum Share : uint32_t { kShareNone = 0, kShareRead = 1, kShareWrite = 2, kShareDelete = 4 };
enum class Disposition {
  kCreateAlways,  // create, or truncate an existing file
  kCreateNew,     // create; fails with 80 when the name exists
  kOpenExisting,  // open; fails with 2 when missing
  kOpenAlways,    // open, or create when missing
};
enum class SeekOrigin { kBegin, kCurrent, kEnd };

// An open file; closed when destroyed.
class File {
 public:
  virtual ~File() = default;
  virtual bool Read(void* buffer, uint32_t count, uint32_t& done) = 0;
  virtual bool Write(const void* buffer, uint32_t count, uint32_t& done) = 0;
  virtual bool Seek(int64_t offset, SeekOrigin origin, uint64_t* position = nullptr) = 0;
  virtual bool Size(uint64_t& size) = 0;
  // Cuts the file at `size` (SetEndOfFile there).
  virtual bool Truncate(uint64_t size) = 0;
};

// Files and folders.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Starts a search for `pattern` (wildcards * and ? in its last part, matched
  // as Windows matches them) and gives the first entry; null when nothing
  // matches (last error 2 or 3).
  virtual std::unique_ptr<DirectorySearch> FindFirst(const std::string& pattern, FindEntry& first) = 0;
  // The same search for a walk of a tree, which reads only the names and
  // attributes of the entries: where that saves work, the search leaves out
  // the entries "." and ".." and reports a last-write time and size of 0.
  virtual std::unique_ptr<DirectorySearch> FindFirstForWalk(const std::string& pattern,
                                                            FindEntry& first) {
    return FindFirst(pattern, first);
  }
  virtual uint32_t GetAttributes(const std::string& path) = 0;  // kInvalidAttributes on failure
  // True when `path`, with its links followed, names something outside the
  // current folder: a link in the shared root that leads out of it, which a
  // file server does not follow for the share's users. False on Windows,
  // whose file server answers for its links itself.
  virtual bool LeadsOutside(const std::string& path) { return false; }
  virtual bool SetAttributes(const std::string& path, uint32_t attributes) = 0;
  // Copies a file with its last-write time and attributes; the copy gets the archive attribute.
  virtual bool Copy(const std::string& from, const std::string& to, bool failIfExists) = 0;
  virtual bool Delete(const std::string& path) = 0;
  // Renames a file or folder; fails with 183 when the new name exists.
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  virtual bool MakeFolder(const std::string& path) = 0;  // 183 when it exists
  // Opens or creates a file. A file that this creates gets the archive attribute.
  virtual std::unique_ptr<File> Open(const std::string& path, uint32_t access, uint32_t share,
                                     Disposition disposition) = 0;
  // Writes key=value into [section] of an INI file as the Windows profile service does.
  virtual bool WriteIniString(const std::string& section, const std::string& key,
                                  const std::string& value, const std::string& file) = 0;
  virtual bool GetCurrentFolder(std::string& folder) = 0;
  virtual bool SetCurrentFolder(const std::string& folder) = 0;
};

// A calendar time, as Windows' SYSTEMTIME has it.
struct CalendarTime {
  int year = 0, month = 0, day = 0, dayOfWeek = 0;
  int hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// The clock.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t TickCount() = 0;  // milliseconds since system start, wraps at 2^32
  virtual void Sleep(uint32_t milliseconds) = 0;
  virtual CalendarTime UtcNow() = 0;
  virtual CalendarTime LocalNow() = 0;
  // A file time as local calendar time; false when it cannot be converted.
  virtual bool ToLocalTime(FileTime time, CalendarTime& local) = 0;
  // A file time as FAT date and time, without time-zone conversion.
  virtual bool ToDosDateTime(FileTime time, uint16_t& date, uint16_t& dosTime) = 0;
};

// A started program that its starter keeps hold of, to see it end. The
// program runs on by itself once nobody holds it any more.
class Process {
 public:
  virtual ~Process() = default;
  // True once the program has ended, with its exit code; never waits. On
  // POSIX a program ended by a signal gives 128 + the signal's number, as a
  // shell reports it.
  virtual bool Ended(uint32_t& exitCode) = 0;
  // Waits until the program ends, at most `milliseconds`, and no longer once
  // a stop request has been caught (see Processes); true when it has ended.
  virtual bool Wait(uint32_t milliseconds) = 0;
};

// A request from outside to end this program: on POSIX the signal SIGTERM,
// SIGINT or SIGHUP.
struct StopRequest {
  int signal = 0;        // its number; 0 while none has come
  const char* name = "";  // "SIGTERM", "SIGINT" or "SIGHUP"
};

// Starting programs. Neither call waits for the program.
class Processes {
 public:
  virtual ~Processes() = default;
  // ShellExecute: starts `program` with `parameters` through the shell with the
  // verb ("open" or "runas"), no working folder. The result is above 32 when
  // the start was accepted; otherwise the last error tells why.
  virtual uint32_t ShellStart(uint32_t owner, const std::string& verb, const std::string& program,
                              const std::string& parameters, int show) = 0;
  // WinExec: starts a command line; the program is searched as Windows searches
  // it. The result is 32 or more when the program was started, else 0 to 31.
  virtual uint32_t CommandStart(const std::string& commandLine, int show) = 0;
  // The same starts, handing back the started program in `started` (left
  // empty when there is none to keep): the start and its result are those of
  // ShellStart and CommandStart. By default nothing is kept.
  virtual uint32_t ShellStartKept(uint32_t owner, const std::string& verb,
                                  const std::string& program, const std::string& parameters,
                                  int show, std::shared_ptr<Process>& started) {
    started.reset();
    return ShellStart(owner, verb, program, parameters, show);
  }
  virtual uint32_t CommandStartKept(const std::string& commandLine, int show,
                                    std::shared_ptr<Process>& started) {
    started.reset();
    return CommandStart(commandLine, show);
  }
  // From this call on, a stop request no longer ends the program at once: it
  // is kept, it ends the Clock's Sleep and a Process's Wait early, and
  // StopRequested reports it, so that the program can end in order. A
  // Windows program without a window gets no such request: nothing is caught.
  virtual void CatchStopRequests() {}
  // The first stop request caught; its signal is 0 while there is none.
  virtual StopRequest StopRequested() { return {}; }
};

enum class EventType { kInformation, kError };

// What the programs tell a person or an administrator: message boxes, the
// Application event log, and the little other user interface they touch.
class UserInterface {
 public:
  virtual ~UserInterface() = default;
  virtual int ShowMessageBox(uint32_t owner, const std::string& text, const std::string& caption,
                         uint32_t style) = 0;
  // True when a message box can be seen and closed: the process's window
  // station has a visible display (not a service's or a task's that runs
  // whether the user is logged on or not).
  virtual bool DesktopVisible() = 0;
  // Writes one event to the Application event log: `source`, `type`, the
  // event ID `id` and `text` as its one insertion string.
  virtual bool WriteEventLog(const std::string& source, EventType type, uint32_t id,
                             const std::string& text) = 0;
  virtual uint32_t DesktopWindow() = 0;
  virtual void ShowWaitCursor() = 0;
  // Removes one queued window message with that number, without waiting.
  virtual void RemoveQueuedMessage(uint32_t message) = 0;
};

enum class RegistryRead { kKeyMissing, kValueMissing, kRead };

// Facts about the system and the running program.
class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  virtual bool ModulePath(std::string& path) = 0;  // the running program's full path
  virtual std::string CommandLine() = 0;            // the raw command-line text
  virtual uint32_t Version() = 0;                   // GetVersion: major version in the low byte
  virtual uint32_t AvailablePhysicalMemory() = 0;
  virtual bool NetworkUserName(std::string& name) = 0;
  // A 4-byte value under HKEY_LOCAL_MACHINE.
  virtual RegistryRead MachineNumber(const std::string& key, const std::string& value, uint32_t& number) = 0;
};

// One argument as it is pushed for a dynamic call.
struct CallArgument {
  enum class Kind { kInt32, kPointer, kDouble, kFloat } kind = Kind::kInt32;
  uint32_t int32 = 0;
  const char* pointer = nullptr;
  double real = 0;
};

// What a dynamic call returned: the integer register and the floating register.
struct CallResult {
  uintptr_t integer = 0;
  double real = 0;
};

// Dynamic libraries and calls into them.
class Libraries {
 public:
  virtual ~Libraries() = default;
  virtual uint32_t Load(const std::string& name) = 0;    // 0 when it cannot be loaded
  virtual uint32_t Loaded(const std::string& name) = 0;  // handle of a loaded library, else 0
  virtual uint32_t EntryPoint(uint32_t library, const std::string& name) = 0;  // 0 when not found
  virtual uint32_t EntryPointByOrdinal(uint32_t library, uint16_t ordinal) = 0;
  virtual bool Free(uint32_t library) = 0;
  // Calls an entry point. `pushed` holds the arguments in the order they are
  // pushed; `convention` is 'C' (the caller removes them) or 'S'/'P' (the
  // callee removes them). `result` is the type code of the result: 'D' and
  // 'F' come back in `real`, 'V' gives nothing, every other code in `integer`.
  // False, with no call made, when the entry point is unknown.
  virtual bool Call(uint32_t entry, char convention, const std::vector<CallArgument>& pushed,
                    char result, CallResult& returned) = 0;
};

// The facets together. Tests build one from the native facets with some of
// them replaced (a simulated clock, a recording message box).
struct Platform {
  FileSystem& files;
  Clock& clock;
  Processes& processes;
  UserInterface& ui;
  SystemInfo& system;
  Libraries& libraries;
};

// The real platform of this build.
Platform& Native();

}  // namespace plat
