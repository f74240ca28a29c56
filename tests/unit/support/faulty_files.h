// A file system that passes every call on to a real one, except one chosen
// call, which fails with a chosen Windows error as a full disk, a denied
// access, a file held by another program or a vanished folder would make it
// fail. It records every change the code under test asked for, so that a
// test can check that nothing else was deleted, replaced or created.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace support {

// One call of the file system, as the code under test made it.
struct FileCall {
  enum class Kind {
    kFindFirst, kFindNext, kGetAttributes, kSetAttributes, kCopy, kDelete, kRename,
    kMakeFolder, kOpen, kRead, kWrite, kSeek, kSize, kTruncate, kWriteIni, kGetCurrentFolder,
    kSetCurrentFolder,
  };
  FileCall() = default;
  FileCall(Kind kind, std::string path, std::string source = "")
      : kind(kind), path(std::move(path)), source(std::move(source)) {}

  Kind kind = Kind::kFindFirst;
  std::string path;    // the file, folder or pattern; the target of a copy or rename
  std::string source;  // the source of a copy, the old name of a rename
  bool creates = false;  // an open that creates or truncates the file
  bool failed = false;   // failed, by the injected fault or by itself
};

std::string Describe(const FileCall& call);

class FaultyFiles : public plat::FileSystem {
 public:
  explicit FaultyFiles(plat::FileSystem& real) : real_(real) {}

  // Makes call number `n` (counting from 1, every method of the file system
  // and every read, write, seek, size query and search step of what it
  // opened) fail with `error`; 0 injects nothing.
  void FailCall(uint64_t n, uint32_t error) {
    failAt_ = n;
    error_ = error;
  }

  // Runs before every call is passed on (or failed), for a test that changes
  // the tree at a chosen moment, as another program would.
  std::function<void(const FileCall& call)> beforeCall;

  uint64_t calls() const { return count_; }
  // The call that was failed, or null when the run never reached it.
  const FileCall* injected() const { return injected_ ? &injectedCall_ : nullptr; }
  // How many changes had been asked for before the failed call.
  size_t changesBeforeFault() const { return changesBeforeFault_; }
  // Every deletion, rename, attribute change, copy, creating open, write-open,
  // profile write and folder creation, in order.
  const std::vector<FileCall>& changes() const { return changes_; }

  std::unique_ptr<plat::DirectorySearch> FindFirst(const std::string& pattern,
                                                   plat::FindEntry& first) override;
  uint32_t GetAttributes(const std::string& path) override;
  bool LeadsOutside(const std::string& path) override { return real_.LeadsOutside(path); }
  bool SetAttributes(const std::string& path, uint32_t attributes) override;
  bool Copy(const std::string& from, const std::string& to, bool failIfExists) override;
  bool Delete(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool MakeFolder(const std::string& path) override;
  std::unique_ptr<plat::File> Open(const std::string& path, uint32_t access, uint32_t share,
                                   plat::Disposition disposition) override;
  bool WriteIniString(const std::string& section, const std::string& key,
                      const std::string& value, const std::string& file) override;
  bool GetCurrentFolder(std::string& folder) override;
  bool SetCurrentFolder(const std::string& folder) override;

  // Counts a call; true when this is the one to fail (the last error is then set).
  bool Fails(const FileCall& call);
  // Notes a change and whether it failed.
  void Note(FileCall call, bool succeeded);

 private:
  plat::FileSystem& real_;
  uint64_t failAt_ = 0;
  uint32_t error_ = 0;
  uint64_t count_ = 0;
  bool injected_ = false;
  FileCall injectedCall_;
  size_t changesBeforeFault_ = 0;
  std::vector<FileCall> changes_;
};

}  // namespace support
