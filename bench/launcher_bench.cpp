// The launcher's ordinary start (nothing changed in the shared root), in
// process on real files, against the least such a start must do: three pairs
// of directory searches, one copy of ADS.INI, two profile writes and one
// write of ADSLOCAL.CFG. The shell start itself is left out of both.
//
//   build/bin/launcher_bench [--benchmark_repetitions=5]
//
// Each reports the file-system calls per start; the last line gives the
// ratio of the two times (medians when repeated).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "launcher/localfiles.h"
#include "launcher/start.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

// Counts every call into the file system and passes it on.
class CountingFileSystem : public plat::FileSystem {
 public:
  explicit CountingFileSystem(plat::FileSystem& real) : real_(real) {}
  std::unique_ptr<plat::DirectorySearch> FindFirst(const std::string& p, plat::FindEntry& e) override {
    ++calls;
    return real_.FindFirst(p, e);
  }
  uint32_t GetAttributes(const std::string& p) override { return ++calls, real_.GetAttributes(p); }
  bool SetAttributes(const std::string& p, uint32_t a) override {
    return ++calls, real_.SetAttributes(p, a);
  }
  bool Copy(const std::string& f, const std::string& t, bool x) override {
    return ++calls, real_.Copy(f, t, x);
  }
  bool Delete(const std::string& p) override { return ++calls, real_.Delete(p); }
  bool Rename(const std::string& f, const std::string& t) override {
    return ++calls, real_.Rename(f, t);
  }
  bool MakeFolder(const std::string& p) override { return ++calls, real_.MakeFolder(p); }
  std::unique_ptr<plat::File> Open(const std::string& p, uint32_t a, uint32_t s,
                                   plat::Disposition d) override {
    return ++calls, real_.Open(p, a, s, d);
  }
  bool WriteIniString(const std::string& s, const std::string& k, const std::string& v,
                      const std::string& f) override {
    return ++calls, real_.WriteIniString(s, k, v, f);
  }
  bool GetCurrentFolder(std::string& f) override { return ++calls, real_.GetCurrentFolder(f); }
  bool SetCurrentFolder(const std::string& f) override { return ++calls, real_.SetCurrentFolder(f); }

  int64_t calls = 0;

 private:
  plat::FileSystem& real_;
};

// Accepts every start without starting anything.
class AcceptingShell : public plat::Processes {
 public:
  uint32_t ShellStart(uint32_t, const std::string&, const std::string&, const std::string&,
                      int) override {
    return 42;
  }
  uint32_t CommandStart(const std::string&, int) override { return 33; }
};

// Messages would mean the start failed; the benchmark stops on the first.
class FailingUi : public plat::UserInterface {
 public:
  int ShowMessageBox(uint32_t, const std::string& text, const std::string&, uint32_t) override {
    std::fprintf(stderr, "unexpected message: %s\n", text.c_str());
    std::abort();
  }
  bool DesktopVisible() override { return true; }
  bool WriteEventLog(const std::string&, plat::EventType, uint32_t, const std::string&) override {
    return true;
  }
  uint32_t DesktopWindow() override { return 0; }
  void ShowWaitCursor() override {}
  void RemoveQueuedMessage(uint32_t) override {}
};

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A shared root and a drive C: in a fresh temporary folder, made current.
struct Sandbox {
  Sandbox() {
    top = fs::temp_directory_path() / ("qz-bench-" + std::to_string(std::rand()));
    fs::create_directories(top / "c");
    fs::create_directories(top / "dosdevices");
    fs::create_directory_symlink("../c", top / "dosdevices" / "c:");
    setenv("QZ_DOSDEVICES", (top / "dosdevices").c_str(), 1);
    fs::path root = top / "root";
    Write(root / "UTILS/QZTSTDIR/QZTSTDIR.CHK", "");
    Write(root / "QZRTS.TST", "rights");
    for (const char* name : {"ACE32.DLL", "ADSLOC32.DLL", "AXCWS32.DLL"}) {
      Write(root / "AXS" / name, std::string(200000, 'd'));
    }
    Write(root / "AXS/ADS.INI", "[SETTINGS]\r\nMULTITASKING_OFF=0\r\nENABLE_BLOCKING=1\r\n");
    Write(root / "XLS/libxl.dll", std::string(3000000, 'x'));
    Write(root / "PURCHASE.EXE", std::string(8000000, 'p'));
    Write(root / "LOCALMSG.TXT", "local copy\r\n");
    fs::current_path(root);
  }
  ~Sandbox() {
    fs::current_path(top.parent_path());
    fs::remove_all(top);
  }
  fs::path top;
};

struct BenchPlatform {
  explicit BenchPlatform(plat::FileSystem& files)
      : os{files, plat::Native().clock, shell, ui, plat::Native().system,
           plat::Native().libraries} {}
  AcceptingShell shell;
  FailingUi ui;
  plat::Platform os;
};

bool OrdinaryStart(plat::Platform& os) {
  launcher::Context context{os};
  launcher::Arguments arguments = launcher::ParseCommandLine("QZSTART.EXE");
  return launcher::NormalStart(context, arguments);
}

void BM_OrdinaryStart(benchmark::State& state) {
  Sandbox sandbox;
  CountingFileSystem files(plat::Native().files);
  BenchPlatform platform(files);
  if (!OrdinaryStart(platform.os)) state.SkipWithError("first start failed");
  files.calls = 0;
  for (auto _ : state) {
    if (!OrdinaryStart(platform.os)) state.SkipWithError("start failed");
  }
  state.counters["fs_calls_per_start"] =
      benchmark::Counter(static_cast<double>(files.calls) / state.iterations());
}
BENCHMARK(BM_OrdinaryStart)->Unit(benchmark::kMicrosecond);

// The least an ordinary start must do, written directly against the platform.
void BM_LeastAStartMustDo(benchmark::State& state) {
  Sandbox sandbox;
  CountingFileSystem files(plat::Native().files);
  BenchPlatform platform(files);
  if (!OrdinaryStart(platform.os)) state.SkipWithError("first start failed");
  std::string folder = "C:\\_$MERIXA\\" + [] {
    std::ifstream in("QZINST.ID");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }() + "\\";
  files.calls = 0;
  const std::string text = launcher::ClientConfiguration(folder);
  for (auto _ : state) {
    plat::FindEntry entry;
    const char* pairs[][2] = {{"ACE32.DLL", "AXS\\ACE32.DLL"},
                              {"libxl.dll", "XLS\\libxl.dll"},
                              {"PURCHASE.EXE", "PURCHASE.EXE"}};
    for (const auto& pair : pairs) {
      files.FindFirst(folder + pair[0], entry);
      files.FindFirst(pair[1], entry);
    }
    files.Copy("AXS\\ADS.INI", folder + "ADS.INI", false);
    files.WriteIniString("SETTINGS", "MULTITASKING_OFF", "1", folder + "ADS.INI");
    files.WriteIniString("SETTINGS", "ENABLE_BLOCKING", "0", folder + "ADS.INI");
    auto cfg = files.Open(folder + "ADSLOCAL.CFG", plat::kWrite, plat::kShareNone,
                          plat::Disposition::kCreateAlways);
    uint32_t written = 0;
    if (cfg) cfg->Write(text.data(), static_cast<uint32_t>(text.size()), written);
  }
  state.counters["fs_calls_per_start"] =
      benchmark::Counter(static_cast<double>(files.calls) / state.iterations());
}
BENCHMARK(BM_LeastAStartMustDo)->Unit(benchmark::kMicrosecond);

// Keeps the time per start of both, and prints their ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (median || (run.run_type == Run::RT_Iteration && !run.error_occurred && !medians_)) {
        if (median && !medians_) times_.clear();  // medians replace single runs
        medians_ = medians_ || median;
        times_[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatio() {
    double ordinary = times_["BM_OrdinaryStart"], least = times_["BM_LeastAStartMustDo"];
    if (ordinary > 0 && least > 0) {
      std::printf("ordinary start / least a start must do: %.2fx (%.0f us against %.0f us)\n",
                  ordinary / least, ordinary, least);
    }
  }

 private:
  std::map<std::string, double> times_;
  bool medians_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatio();
  benchmark::Shutdown();
  return 0;
}
