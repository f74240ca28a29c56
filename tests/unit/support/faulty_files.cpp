#include "support/faulty_files.h"

namespace support {

namespace {

using Kind = FileCall::Kind;

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kFindFirst: return "FindFirst";
    case Kind::kFindNext: return "FindNext";
    case Kind::kGetAttributes: return "GetAttributes";
    case Kind::kSetAttributes: return "SetAttributes";
    case Kind::kCopy: return "Copy";
    case Kind::kDelete: return "Delete";
    case Kind::kRename: return "Rename";
    case Kind::kMakeFolder: return "MakeFolder";
    case Kind::kOpen: return "Open";
    case Kind::kRead: return "Read";
    case Kind::kWrite: return "Write";
    case Kind::kSeek: return "Seek";
    case Kind::kSize: return "Size";
    case Kind::kTruncate: return "Truncate";
    case Kind::kWriteIni: return "WriteIniString";
    case Kind::kGetCurrentFolder: return "GetCurrentFolder";
    case Kind::kSetCurrentFolder: return "SetCurrentFolder";
  }
  return "?";
}

// A search whose steps count as calls of the file system that started it.
class FaultySearch : public plat::DirectorySearch {
 public:
  FaultySearch(FaultyFiles& files, std::unique_ptr<plat::DirectorySearch> real, std::string pattern)
      : files_(files), real_(std::move(real)), pattern_(std::move(pattern)) {}
  bool Next(plat::FindEntry& entry) override {
    if (files_.Fails({Kind::kFindNext, pattern_})) return false;
    return real_->Next(entry);
  }

 private:
  FaultyFiles& files_;
  std::unique_ptr<plat::DirectorySearch> real_;
  std::string pattern_;
};

// An open file whose reads, writes, seeks and size queries count as calls.
class FaultyFile : public plat::File {
 public:
  FaultyFile(FaultyFiles& files, std::unique_ptr<plat::File> real, std::string path)
      : files_(files), real_(std::move(real)), path_(std::move(path)) {}
  bool Read(void* buffer, uint32_t count, uint32_t& done) override {
    done = 0;
    if (files_.Fails({Kind::kRead, path_})) return false;
    return real_->Read(buffer, count, done);
  }
  bool Write(const void* buffer, uint32_t count, uint32_t& done) override {
    done = 0;
    if (files_.Fails({Kind::kWrite, path_})) return false;
    return real_->Write(buffer, count, done);
  }
  bool Seek(int64_t offset, plat::SeekOrigin origin, uint64_t* position) override {
    if (files_.Fails({Kind::kSeek, path_})) return false;
    return real_->Seek(offset, origin, position);
  }
  bool Size(uint64_t& size) override {
    if (files_.Fails({Kind::kSize, path_})) return false;
    return real_->Size(size);
  }
  bool Truncate(uint64_t size) override {
    if (files_.Fails({Kind::kTruncate, path_})) return false;
    return real_->Truncate(size);
  }

 private:
  FaultyFiles& files_;
  std::unique_ptr<plat::File> real_;
  std::string path_;
};

}  // namespace

std::string Describe(const FileCall& call) {
  std::string text = KindName(call.kind);
  text += " " + call.path;
  if (!call.source.empty()) text += " from " + call.source;
  if (call.creates) text += " (create)";
  return text;
}

bool FaultyFiles::Fails(const FileCall& call) {
  if (beforeCall) beforeCall(call);
  if (++count_ != failAt_) return false;
  injected_ = true;
  injectedCall_ = call;
  injectedCall_.failed = true;
  changesBeforeFault_ = changes_.size();
  plat::SetLastError(error_);
  return true;
}

void FaultyFiles::Note(FileCall call, bool succeeded) {
  call.failed = !succeeded;
  changes_.push_back(std::move(call));
}

std::unique_ptr<plat::DirectorySearch> FaultyFiles::FindFirst(const std::string& pattern,
                                                              plat::FindEntry& first) {
  if (Fails({Kind::kFindFirst, pattern})) return nullptr;
  auto search = real_.FindFirst(pattern, first);
  if (!search) return nullptr;
  return std::make_unique<FaultySearch>(*this, std::move(search), pattern);
}

uint32_t FaultyFiles::GetAttributes(const std::string& path) {
  if (Fails({Kind::kGetAttributes, path})) return plat::kInvalidAttributes;
  return real_.GetAttributes(path);
}

bool FaultyFiles::SetAttributes(const std::string& path, uint32_t attributes) {
  FileCall call{Kind::kSetAttributes, path};
  bool done = !Fails(call) && real_.SetAttributes(path, attributes);
  Note(call, done);
  return done;
}

bool FaultyFiles::Copy(const std::string& from, const std::string& to, bool failIfExists) {
  FileCall call{Kind::kCopy, to, from};
  bool done = !Fails(call) && real_.Copy(from, to, failIfExists);
  Note(call, done);
  return done;
}

bool FaultyFiles::Delete(const std::string& path) {
  FileCall call{Kind::kDelete, path};
  bool done = !Fails(call) && real_.Delete(path);
  Note(call, done);
  return done;
}

bool FaultyFiles::Rename(const std::string& from, const std::string& to) {
  FileCall call{Kind::kRename, to, from};
  bool done = !Fails(call) && real_.Rename(from, to);
  Note(call, done);
  return done;
}

bool FaultyFiles::MakeFolder(const std::string& path) {
  FileCall call{Kind::kMakeFolder, path};
  bool done = !Fails(call) && real_.MakeFolder(path);
  Note(call, done);
  return done;
}

std::unique_ptr<plat::File> FaultyFiles::Open(const std::string& path, uint32_t access,
                                              uint32_t share, plat::Disposition disposition) {
  FileCall call{Kind::kOpen, path};
  call.creates = disposition != plat::Disposition::kOpenExisting;
  bool changes = call.creates || (access & plat::kWrite) != 0;
  std::unique_ptr<plat::File> file;
  if (!Fails(call)) file = real_.Open(path, access, share, disposition);
  if (changes) Note(call, file != nullptr);
  if (!file) return nullptr;
  return std::make_unique<FaultyFile>(*this, std::move(file), path);
}

bool FaultyFiles::WriteIniString(const std::string& section, const std::string& key,
                                 const std::string& value, const std::string& file) {
  FileCall call{Kind::kWriteIni, file};
  bool done = !Fails(call) && real_.WriteIniString(section, key, value, file);
  Note(call, done);
  return done;
}

bool FaultyFiles::GetCurrentFolder(std::string& folder) {
  if (Fails({Kind::kGetCurrentFolder, ""})) return false;
  return real_.GetCurrentFolder(folder);
}

bool FaultyFiles::SetCurrentFolder(const std::string& folder) {
  if (Fails({Kind::kSetCurrentFolder, folder})) return false;
  return real_.SetCurrentFolder(folder);
}

}  // namespace support
