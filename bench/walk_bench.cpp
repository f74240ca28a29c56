// The monitor's two walks of the shared root, over generated trees, against
// the least a POSIX walk can do and against find, all in one run:
//
//   scan/N          BACKUPINPROGRESS through the run-time, on a tree with no
//                   flagged file, so that every folder is listed
//   bare_walk/N     readdir, fstatat and getxattr("user.DOSATTRIB") per entry
//   find/N          find ROOT -type f, its lines counted (as with wc -l)
//   marking/N       MARKFILES through LOADLIBRARY/GETPROCADDRESS/CALLDLL, as a
//                   FULL run calls it; every file lacks the archive attribute
//   bare_marking/N  the bare walk plus one setxattr per file
//   scan_memory/N   one scan with every heap allocation counted: the most the
//                   scan holds at once, and the growth of the peak RSS
//
// N is the number of files: 10,000, 100,000 and 1,000,000, spread evenly over
// 1,000 folders up to 8 levels deep, each file with a stored attribute value
// without the archive attribute (what a backup job leaves behind) and a
// last-write time of its own within the last three years. The marking and
// bare_marking clear the attributes again before each iteration, outside the
// timed part. At the end a table gives the ratios and the cost per entry
// (files and folders) of each size.
//
//   <build>/bin/walk_bench [--benchmark_repetitions=3 --benchmark_enable_random_interleaving=true]
//   <build>/bin/walk_bench --benchmark_filter='/(10000|100000)/'    (the smaller sizes only)
//
// The trees are made in a fresh folder under $TMPDIR (or /tmp) and removed at
// the end. With QZ_WALK_TREES=DIR they are kept in DIR/<N> instead and used
// again by later runs (DIR/<N>.done marks a complete tree); remove DIR by hand.
//
// Benchmark code, not product code: it calls the host directly.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "monitor/backup.h"
#include "monitor/runtime/runtime.h"
#include "platform/posix/dosattrib.h"

extern char** environ;

// Heap accounting for scan_memory: every block carries a header with its size
// and whether it was made while counting, so that freeing blocks made before
// (such as the listings an earlier walk left) does not offset the count.
namespace heap {
bool counting = false;
int64_t live = 0, peak = 0;
struct alignas(std::max_align_t) Header {
  size_t size;
  bool counted;
};
}  // namespace heap

void* operator new(size_t size) {
  auto* header = static_cast<heap::Header*>(std::malloc(sizeof(heap::Header) + size));
  if (!header) throw std::bad_alloc();
  *header = {size, heap::counting};
  if (heap::counting) {
    heap::live += static_cast<int64_t>(size);
    heap::peak = std::max(heap::peak, heap::live);
  }
  return header + 1;
}
void operator delete(void* block) noexcept {
  if (!block) return;
  auto* header = reinterpret_cast<heap::Header*>(static_cast<char*>(block) - sizeof(heap::Header));
  if (header->counted) heap::live -= static_cast<int64_t>(header->size);
  std::free(header);
}
void operator delete(void* block, size_t) noexcept { operator delete(block); }

namespace {

namespace fs = std::filesystem;

constexpr int kFolders = 1000;
constexpr int kDepth = 8;
constexpr const char* kXattr = "user.DOSATTRIB";
constexpr uint64_t kCreateTime = 133000000000000000ull;  // a FILETIME in 2022
const std::string kCleared = plat::posix::EncodeDosAttrib(0, kCreateTime);
const std::string kArchived = plat::posix::EncodeDosAttrib(0x20, kCreateTime);

void Die(const std::string& what) {
  std::perror(what.c_str());
  std::exit(2);
}

// The folders of a tree, parents first: the root has 4 sub-folders, every
// other folder 2, breadth first until there are 1,000, so the deepest lie 8
// levels below the root.
std::vector<std::string> FolderPaths() {
  std::vector<std::string> paths;
  std::vector<int> depths;
  for (size_t next = 0; paths.size() < kFolders; ++next) {
    std::string parent = next == 0 ? "" : paths[next - 1] + "/";
    int depth = next == 0 ? 0 : depths[next - 1];
    for (int child = 0; child < (next == 0 ? 4 : 2) && paths.size() < kFolders; ++child) {
      char name[16];
      std::snprintf(name, sizeof name, "DIR%04zu", paths.size());
      paths.push_back(parent + name);
      depths.push_back(depth + 1);
    }
  }
  if (*std::max_element(depths.begin(), depths.end()) != kDepth) Die("tree depth");
  return paths;
}

// Makes `files` empty-bodied files (sparse, of varied sizes) with the
// cleared attribute value and spread last-write times.
void Generate(const fs::path& root, int files) {
  fs::create_directories(root);
  std::vector<std::string> folders = FolderPaths();
  uint64_t seed = 88172645463325252ull;
  time_t now = time(nullptr);
  int perFolder = files / kFolders;
  for (const std::string& folder : folders) {
    std::string host = root / folder;
    if (mkdir(host.c_str(), 0777) != 0) Die("mkdir " + host);
    int dir = open(host.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir < 0) Die("open " + host);
    for (int i = 0; i < perFolder; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "FILE%05d.DAT", i);
      int fd = openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) Die(std::string("create ") + name);
      seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
      timespec times[2] = {{now, 0}, {now - static_cast<time_t>(seed % (3 * 365 * 86400)), 0}};
      if (ftruncate(fd, static_cast<off_t>(seed % 100000)) != 0 ||
          fsetxattr(fd, kXattr, kCleared.data(), kCleared.size(), 0) != 0 ||
          futimens(fd, times) != 0) {
        Die(std::string("set up ") + name);
      }
      close(fd);
    }
    close(dir);
  }
}

struct Tree {
  fs::path root;
  int files = 0;
  int entries() const { return files + kFolders; }
};

class Trees {
 public:
  ~Trees() {
    if (!keep_ && !base_.empty()) {
      std::fprintf(stderr, "removing %s\n", base_.c_str());
      fs::remove_all(base_);
    }
  }

  const Tree& For(int files) {
    auto found = trees_.find(files);
    if (found != trees_.end()) return found->second;
    if (base_.empty()) MakeBase();
    Tree tree{base_ / std::to_string(files), files};
    fs::path done = base_ / (std::to_string(files) + ".done");
    if (!fs::exists(done)) {
      fs::remove_all(tree.root);
      std::fprintf(stderr, "generating %d files in %s ...\n", files, tree.root.c_str());
      Generate(tree.root, files);
      std::ofstream{done};
    }
    return trees_[files] = tree;
  }

 private:
  void MakeBase() {
    const char* kept = std::getenv("QZ_WALK_TREES");
    keep_ = kept && *kept;
    if (keep_) {
      base_ = kept;
      fs::create_directories(base_);
      return;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qz-walk-XXXXXX";
    if (!mkdtemp(pattern.data())) Die("mkdtemp");
    base_ = pattern;
  }

  fs::path base_;
  bool keep_ = false;
  std::map<int, Tree> trees_;
};

Trees& AllTrees() {
  static Trees trees;
  return trees;
}

// The current folder is the shared root for the monitor's walks.
const Tree& EnterTree(benchmark::State& state) {
  const Tree& tree = AllTrees().For(static_cast<int>(state.range(0)));
  if (chdir(tree.root.c_str()) != 0) Die("chdir");
  return tree;
}

// The bare walk: what every POSIX walk that reads the stored attributes must
// do. Counts the entries and the files; `write` gives each file one setxattr.
struct BareWalk {
  const std::string* value = nullptr;  // written to every file when set
  int entries = 0, files = 0, flagged = 0;

  void Folder(int parent, const char* name, std::string& path) {
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    DIR* dir = fdopendir(fd);
    size_t length = path.size();
    while (dirent* entry = readdir(dir)) {
      const char* entryName = entry->d_name;
      if (entryName[0] == '.' && (!entryName[1] || (entryName[1] == '.' && !entryName[2]))) continue;
      ++entries;
      path.resize(length);
      if (length) path += '/';
      path += entryName;
      struct stat facts;
      if (fstatat(fd, entryName, &facts, AT_SYMLINK_NOFOLLOW) != 0) continue;
      char stored[256];
      ssize_t size = getxattr(path.c_str(), kXattr, stored, sizeof stored);
      if (S_ISDIR(facts.st_mode)) {
        Folder(fd, entryName, path);
        continue;
      }
      ++files;
      std::optional<plat::posix::DosAttrib> attrib =
          size >= 0 ? plat::posix::DecodeDosAttrib(stored, static_cast<size_t>(size)) : std::nullopt;
      if (attrib && (attrib->attrib & 0x20)) ++flagged;
      if (value) setxattr(path.c_str(), kXattr, value->data(), value->size(), 0);
    }
    path.resize(length);
    closedir(dir);
  }
};

BareWalk WalkBare(const std::string* value = nullptr) {
  BareWalk walk;
  walk.value = value;
  std::string path;
  walk.Folder(AT_FDCWD, ".", path);
  return walk;
}

// Gives every file the cleared value again, as it was generated.
void ClearArchive() { WalkBare(&kCleared); }

// The processor time spent in user space and in the kernel by the timed
// parts, this process's and (for find) its children's.
class CpuTimes {
 public:
  void Start() { Read(startUser_, startSystem_); }
  void Stop() {
    double user = 0, system = 0;
    Read(user, system);
    user_ += user - startUser_;
    system_ += system - startSystem_;
  }
  double user() const { return user_; }
  double system() const { return system_; }

 private:
  static void Read(double& user, double& system) {
    user = system = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
      rusage usage;
      getrusage(who, &usage);
      user += usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6;
      system += usage.ru_stime.tv_sec + usage.ru_stime.tv_usec * 1e-6;
    }
  }
  double startUser_ = 0, startSystem_ = 0, user_ = 0, system_ = 0;
};

// Time per entry, and how much of it went to user space and to the kernel.
void SetCounters(benchmark::State& state, const Tree& tree, const CpuTimes& cpu) {
  double perEntry = 1e9 / (static_cast<double>(tree.entries()) * state.iterations());
  state.counters["entries"] = tree.entries();
  state.counters["per_entry"] = benchmark::Counter(
      tree.entries(), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["user_ns"] = cpu.user() * perEntry;
  state.counters["sys_ns"] = cpu.system() * perEntry;
}

void Scan(benchmark::State& state) {
  const Tree& tree = EnterTree(state);
  CpuTimes cpu;
  cpu.Start();
  for (auto _ : state) {
    if (monitor::BACKUPINPROGRESS()) state.SkipWithError("a flagged file was found");
  }
  cpu.Stop();
  SetCounters(state, tree, cpu);
}

void Bare(benchmark::State& state) {
  const Tree& tree = EnterTree(state);
  CpuTimes cpu;
  cpu.Start();
  for (auto _ : state) {
    BareWalk walk = WalkBare();
    if (walk.entries != tree.entries() || walk.flagged) state.SkipWithError("wrong tree");
  }
  cpu.Stop();
  SetCounters(state, tree, cpu);
}

void Find(benchmark::State& state) {
  const Tree& tree = EnterTree(state);
  CpuTimes cpu;
  cpu.Start();
  for (auto _ : state) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) Die("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const char* argv[] = {"find", ".", "-type", "f", nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "find", &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
      Die("spawn find");
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char buffer[65536];
    long lines = 0;
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;) {
      lines += std::count(buffer, buffer + got, '\n');
    }
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (lines != tree.files || status != 0) state.SkipWithError("find counted wrong");
  }
  cpu.Stop();
  SetCounters(state, tree, cpu);
}

void Marking(benchmark::State& state) {
  const Tree& tree = EnterTree(state);
  rt::Value kernel = rt::LOADLIBRARY("KERNEL32.DLL");
  rt::Value setAttributes =
      rt::GETPROCADDRESS(kernel, "SetFileAttributesA", rt::NIL, "BOOL", "LPCSTR,DWORD");
  CpuTimes cpu;
  for (auto _ : state) {
    state.PauseTiming();
    ClearArchive();
    state.ResumeTiming();
    cpu.Start();
    monitor::MARKFILES(setAttributes);
    cpu.Stop();
  }
  rt::FREELIBRARY(kernel);
  BareWalk after = WalkBare();
  if (after.flagged != tree.files) state.SkipWithError("not every file was marked");
  ClearArchive();
  SetCounters(state, tree, cpu);
}

void BareMarking(benchmark::State& state) {
  const Tree& tree = EnterTree(state);
  CpuTimes cpu;
  for (auto _ : state) {
    state.PauseTiming();
    ClearArchive();
    state.ResumeTiming();
    cpu.Start();
    WalkBare(&kArchived);
    cpu.Stop();
  }
  ClearArchive();
  SetCounters(state, tree, cpu);
}

// "VmRSS" or "VmHWM" of this process, in bytes.
long StatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1) * 1024;
  }
  return -1;
}

void ScanMemory(benchmark::State& state) {
  const Tree& tree = EnterTree(state);
  for (auto _ : state) {
    malloc_trim(0);  // freed memory that malloc still holds would hide growth
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak RSS starts again from here
    long rssBefore = StatusBytes("VmRSS:");
    heap::live = heap::peak = 0;
    heap::counting = true;
    bool found = monitor::BACKUPINPROGRESS();
    heap::counting = false;
    if (found) state.SkipWithError("a flagged file was found");
    state.counters["peak_heap_bytes"] = static_cast<double>(heap::peak);
    state.counters["peak_rss_growth_bytes"] = static_cast<double>(StatusBytes("VmHWM:") - rssBefore);
  }
  state.counters["entries"] = tree.entries();
}

// Keeps the time per iteration of every run, so that the ratios can be
// printed once all have run.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      std::string name = run.run_name.function_name + "/" + run.run_name.args;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians_[name] = run.GetAdjustedRealTime() / 1e3;  // every benchmark reports milliseconds
      }
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        seconds_[name].push_back(run.GetAdjustedRealTime() / 1e3);
      }
      bool single = run.run_type == Run::RT_Iteration || run.aggregate_name == "median";
      if (single && run.counters.count("peak_heap_bytes")) {
        memory_[name] = {run.counters.at("peak_heap_bytes").value,
                         run.counters.at("peak_rss_growth_bytes").value};
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintSummary(const std::vector<int>& sizes) {
    std::printf("\nmedian times; ratios within one run; ns per entry (files + folders)\n");
    std::printf("%9s %10s %10s %10s %10s %10s | %7s %7s %7s | %8s %8s %8s %8s\n", "files",
                "scan ms", "bare ms", "find ms", "mark ms", "bmark ms", "scan/b", "find/b",
                "mark/bm", "scan ns", "bare ns", "mark ns", "bmark ns");
    for (int files : sizes) {
      std::string n = "/" + std::to_string(files);
      double scan = Median("scan" + n), bare = Median("bare_walk" + n), find = Median("find" + n);
      double mark = Median("marking" + n), bareMark = Median("bare_marking" + n);
      if (!(bare > 0)) continue;  // this size was filtered out
      double perEntry = 1e9 / (files + kFolders);
      std::printf("%9d %10.1f %10.1f %10.1f %10.1f %10.1f | %7.3f %7.3f %7.3f | %8.0f %8.0f %8.0f %8.0f\n",
                  files, scan * 1e3, bare * 1e3, find * 1e3, mark * 1e3, bareMark * 1e3,
                  scan / bare, find / bare, mark / bareMark, scan * perEntry, bare * perEntry,
                  mark * perEntry, bareMark * perEntry);
    }
    for (const auto& [name, memory] : memory_) {
      std::printf("%s: at most %.2f MB on the heap, peak RSS grew by %.2f MB\n", name.c_str(),
                  memory.first / 1048576.0, memory.second / 1048576.0);
    }
  }

 private:
  double Median(const std::string& name) {
    if (medians_.count(name)) return medians_[name];
    auto found = seconds_.find(name);
    if (found == seconds_.end() || found->second.empty()) return 0.0 / 0.0;
    std::vector<double> times = found->second;
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  }

  std::map<std::string, std::vector<double>> seconds_;
  std::map<std::string, double> medians_;  // of repetitions, when only aggregates are reported
  std::map<std::string, std::pair<double, double>> memory_;
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<int> sizes = {10000, 100000, 1000000};
  struct Case {
    const char* name;
    void (*function)(benchmark::State&);
  };
  const Case cases[] = {{"scan", Scan},       {"bare_walk", Bare},
                        {"find", Find},       {"marking", Marking},
                        {"bare_marking", BareMarking}};
  for (int files : sizes) {
    for (const Case& c : cases) {
      benchmark::RegisterBenchmark(c.name, c.function)
          ->Arg(files)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }
  benchmark::RegisterBenchmark("scan_memory", ScanMemory)
      ->Arg(1000000)
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary(sizes);
  benchmark::Shutdown();
  return 0;
}
