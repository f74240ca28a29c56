// Files and folders: the Win32 calls themselves, so attributes, sharing and
// error numbers are the system's own.
#include <windows.h>

#include "platform/win32/win32.h"

namespace plat::win32 {
namespace {

FileTime ToFileTime(const FILETIME& time) {
  return (static_cast<FileTime>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void ToFindEntry(const WIN32_FIND_DATAA& data, FindEntry& entry) {
  entry.name = data.cFileName;
  entry.attributes = data.dwFileAttributes;
  entry.lastWriteTime = ToFileTime(data.ftLastWriteTime);
  entry.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class Search : public DirectorySearch {
 public:
  explicit Search(HANDLE handle) : handle_(handle) {}
  ~Search() override { ::FindClose(handle_); }
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

  bool Next(FindEntry& entry) override {
    WIN32_FIND_DATAA data;
    if (!::FindNextFileA(handle_, &data)) return false;
    ToFindEntry(data, entry);
    return true;
  }

 private:
  HANDLE handle_;
};

class OpenFile : public File {
 public:
  explicit OpenFile(HANDLE handle) : handle_(handle) {}
  ~OpenFile() override { ::CloseHandle(handle_); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  bool Read(void* buffer, uint32_t count, uint32_t& done) override {
    DWORD read = 0;
    bool ok = ::ReadFile(handle_, buffer, count, &read, nullptr);
    done = read;
    return ok;
  }

  bool Write(const void* buffer, uint32_t count, uint32_t& done) override {
    DWORD written = 0;
    bool ok = ::WriteFile(handle_, buffer, count, &written, nullptr);
    done = written;
    return ok;
  }

  bool Seek(int64_t offset, SeekOrigin origin, uint64_t* position) override {
    LARGE_INTEGER distance, reached;
    distance.QuadPart = offset;
    if (!::SetFilePointerEx(handle_, distance, &reached, MoveMethod(origin))) return false;
    if (position) *position = static_cast<uint64_t>(reached.QuadPart);
    return true;
  }

  bool Size(uint64_t& size) override {
    LARGE_INTEGER length;
    if (!::GetFileSizeEx(handle_, &length)) return false;
    size = static_cast<uint64_t>(length.QuadPart);
    return true;
  }

  bool Truncate(uint64_t size) override {
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(handle_, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle_);
  }

 private:
  static DWORD MoveMethod(SeekOrigin origin) {
    switch (origin) {
      case SeekOrigin::kBegin: return FILE_BEGIN;
      case SeekOrigin::kCurrent: return FILE_CURRENT;
      case SeekOrigin::kEnd: return FILE_END;
    }
    return FILE_BEGIN;
  }

  HANDLE handle_;
};

DWORD DesiredAccess(uint32_t access) {
  DWORD desired = 0;
  if (access & kRead) desired |= GENERIC_READ;
  if (access & kWrite) desired |= GENERIC_WRITE;
  return desired;
}

DWORD ShareMode(uint32_t share) {
  DWORD mode = 0;
  if (share & kShareRead) mode |= FILE_SHARE_READ;
  if (share & kShareWrite) mode |= FILE_SHARE_WRITE;
  if (share & kShareDelete) mode |= FILE_SHARE_DELETE;
  return mode;
}

DWORD CreationDisposition(Disposition disposition) {
  switch (disposition) {
    case Disposition::kCreateAlways: return CREATE_ALWAYS;
    case Disposition::kCreateNew: return CREATE_NEW;
    case Disposition::kOpenExisting: return OPEN_EXISTING;
    case Disposition::kOpenAlways: return OPEN_ALWAYS;
  }
  return OPEN_EXISTING;
}

}  // namespace

std::unique_ptr<DirectorySearch> Files::FindFirst(const std::string& pattern, FindEntry& first) {
  WIN32_FIND_DATAA data;
  HANDLE handle = ::FindFirstFileA(pattern.c_str(), &data);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  ToFindEntry(data, first);
  return std::make_unique<Search>(handle);
}

uint32_t Files::GetAttributes(const std::string& path) {
  return ::GetFileAttributesA(path.c_str());
}

bool Files::SetAttributes(const std::string& path, uint32_t attributes) {
  return ::SetFileAttributesA(path.c_str(), attributes);
}

bool Files::Copy(const std::string& from, const std::string& to, bool failIfExists) {
  return ::CopyFileA(from.c_str(), to.c_str(), failIfExists);
}

bool Files::Delete(const std::string& path) { return ::DeleteFileA(path.c_str()); }

bool Files::Rename(const std::string& from, const std::string& to) {
  return ::MoveFileA(from.c_str(), to.c_str());
}

bool Files::MakeFolder(const std::string& path) {
  return ::CreateDirectoryA(path.c_str(), nullptr);
}

std::unique_ptr<File> Files::Open(const std::string& path, uint32_t access, uint32_t share,
                                  Disposition disposition) {
  HANDLE handle = ::CreateFileA(path.c_str(), DesiredAccess(access), ShareMode(share), nullptr,
                                CreationDisposition(disposition), FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<OpenFile>(handle);
}

bool Files::WriteIniString(const std::string& section, const std::string& key,
                           const std::string& value, const std::string& file) {
  return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str());
}

bool Files::GetCurrentFolder(std::string& folder) {
  // The folder can change between asking for its length and reading it.
  for (;;) {
    DWORD needed = ::GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) return false;
    std::string buffer(needed, '\0');
    DWORD length = ::GetCurrentDirectoryA(needed, buffer.data());
    if (length == 0) return false;
    if (length < needed) {
      buffer.resize(length);
      folder = std::move(buffer);
      return true;
    }
  }
}

bool Files::SetCurrentFolder(const std::string& folder) {
  return ::SetCurrentDirectoryA(folder.c_str());
}

}  // namespace plat::win32
