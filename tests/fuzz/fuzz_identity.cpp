// The installation identity's files with any content: the identity file, the
// shifted backup, the previous identity and the first backup, each present or
// not, beside a rights marker with or without its archive attribute, read by
// PrepareLocalFolder on real files in a sandbox folder. The preparation either
// succeeds with a local folder inside its capacity (a default folder named
// after a usable identity, inside the default folder) or stops with one of
// its messages; nothing is made outside the sandbox.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "launcher/identity.h"
#include "launcher/start.h"

namespace fs = std::filesystem;

namespace {

class RecordingUi : public plat::UserInterface {
 public:
  int ShowMessageBox(uint32_t, const std::string& text, const std::string&, uint32_t) override {
    shown.push_back(text);
    return 1;
  }
  bool DesktopVisible() override { return true; }
  bool WriteEventLog(const std::string&, plat::EventType, uint32_t, const std::string&) override {
    return true;
  }
  uint32_t DesktopWindow() override { return 0x10010; }
  void ShowWaitCursor() override {}
  void RemoveQueuedMessage(uint32_t) override {}
  std::vector<std::string> shown;
};

fs::path sandbox;

void Write(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
}

// The sandbox's shared root (its current folder) and its drive C:.
void ResetSandbox() {
  for (const auto& entry : fs::directory_iterator(sandbox)) {
    if (entry.path().filename() != "dosdevices") fs::remove_all(entry.path());
  }
  fs::create_directory(sandbox / "c");
}

bool IsOneOfTheMessages(const std::string& text) {
  for (const char* start : {"Invalid local folder (", "Missing create/modify/delete rights",
                            "#", "Unable to set file attributes", "Invalid installation identity (",
                            "Local folder too long (", "Local file name too long ("}) {
    if (text.rfind(start, 0) == 0) return true;
  }
  return false;
}

// The sandbox becomes the current folder, so the corpus folders and the
// artifact prefix given relative to the folder the fuzzer was started in are
// made absolute first.
void AnchorArguments(int* argc, char*** argv) {
  static std::vector<std::string> kept;
  static std::vector<char*> pointers;
  fs::path start = fs::current_path();
  bool hasPrefix = false;
  for (int i = 0; i < *argc; ++i) {
    std::string argument = (*argv)[i];
    if (argument.rfind("-artifact_prefix=", 0) == 0) hasPrefix = true;
    if (i > 0 && !argument.empty() && argument[0] != '-') argument = (start / argument).string();
    kept.push_back(argument);
  }
  if (!hasPrefix) kept.push_back("-artifact_prefix=" + start.string() + "/");
  for (std::string& argument : kept) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  *argc = static_cast<int>(kept.size());
  *argv = pointers.data();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  AnchorArguments(argc, argv);
  char pattern[] = "/tmp/qz-fuzz-identity-XXXXXX";
  if (!mkdtemp(pattern)) std::abort();
  sandbox = pattern;
  fs::create_directory(sandbox / "dosdevices");
  fs::create_directory_symlink("../c", sandbox / "dosdevices" / "c:");
  setenv("QZ_DOSDEVICES", (sandbox / "dosdevices").c_str(), 1);
  fs::current_path(sandbox);
  std::atexit([] {
    std::error_code ignored;
    fs::current_path("/", ignored);
    fs::remove_all(sandbox, ignored);
  });
  return 0;
}

// Input: a byte of flags, then the contents of the four files, separated by
// 0xFF bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint8_t flags = data[0];
  std::vector<std::string> contents(4);
  size_t part = 0;
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == 0xFF && part < 3) {
      ++part;
    } else {
      contents[part] += static_cast<char>(data[i]);
    }
  }

  ResetSandbox();
  plat::Platform& native = plat::Native();
  launcher::IdentityFiles files = launcher::AssembleIdentityFiles();
  fs::create_directories(sandbox / "UTILS" / "QZBACKUP");
  Write(files.rightsSource, "rights");
  if (flags & 1) {
    Write(files.rightsMarker, "rights");
    native.files.SetAttributes(files.rightsMarker,
                               flags & 2 ? plat::kAttrArchive : plat::kAttrNormal);
  }
  if (flags & 8) Write(files.identity, contents[0]);
  if (flags & 16) Write(files.shiftedBackup, contents[1]);
  if (flags & 32) Write(files.previous, contents[2]);
  if (flags & 64) Write(files.firstBackup, contents[3]);
  if (flags & 128) {
    fs::create_directories(sandbox / "c" / "_$MERIXA");
    Write((sandbox / "c" / "_$MERIXA" / "PURCHASE.INI").string(), "[legacy]\r\n");
  }

  RecordingUi ui;
  plat::Platform os{native.files, native.clock, native.processes, ui, native.system,
                    native.libraries};
  launcher::Context context{os};
  std::string folder = flags & 4 ? launcher::kDefaultLocalFolder : "C:\\L\\";
  bool prepared = launcher::PrepareLocalFolder(context, folder);

  if (!prepared) {
    if (ui.shown.size() != 1 || !IsOneOfTheMessages(ui.shown[0])) std::abort();
    return 0;
  }
  if (!ui.shown.empty()) std::abort();
  if (folder.size() > launcher::kPathCapacity || folder.back() != '\\') std::abort();
  if (flags & 4) {
    std::string base = launcher::kDefaultLocalFolder;
    if (folder.compare(0, base.size(), base) != 0) std::abort();
    std::string identity = folder.substr(base.size(), folder.size() - base.size() - 1);
    if (!launcher::IsUsableIdentity(identity)) std::abort();
    fs::path made = fs::weakly_canonical(sandbox / "c" / "_$MERIXA" / identity);
    fs::path parent = fs::weakly_canonical(sandbox / "c" / "_$MERIXA");
    if (made.parent_path() != parent || !fs::is_directory(made)) std::abort();
  }
  plat::FindEntry entry;
  if (!native.files.FindFirst(folder + files.identity, entry)) std::abort();
  uint32_t marker = native.files.GetAttributes(files.rightsMarker);
  if (marker == plat::kInvalidAttributes || (marker & plat::kAttrArchive)) std::abort();
  return 0;
}
