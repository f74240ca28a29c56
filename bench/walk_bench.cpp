// The monitor's two walks of the shared root, over generated trees, against
// the least a POSIX walk can do and against find, all in one run:
//
//   scan/N              BACKUPINPROGRESS through the run-time, on a tree with
//                       no flagged file, so that every folder is listed
//   bare_walk/N         readdir, fstatat and getxattr("user.DOSATTRIB") per entry
//   statless_walk/N     getdents64, the entry type it gives (d_type) and
//                       getxattr per entry: no stat at all, the kernel's floor
//   find/N              find ROOT -type f, its lines counted (as with wc -l)
//   marking/N           MARKFILES through LOADLIBRARY/GETPROCADDRESS/CALLDLL, as
//                       a FULL run calls it; every file lacks the archive attribute
//   bare_marking/N      the bare walk plus one setxattr per file
//   statless_marking/N  the stat-less walk plus, per file, the attribute read
//                       again right before its write and one setxattr
//   scan_memory/N       one scan with every heap allocation counted: the most
//                       the scan holds at once, and the growth of the peak RSS
//
// N is the number of files: 10,000, 100,000 and 1,000,000, spread evenly over
// 1,000 folders up to 8 levels deep, each file with a stored attribute value
// without the archive attribute (what a backup job leaves behind) and a
// last-write time of its own within the last three years. The markings clear
// the attributes again before each iteration, outside the timed part. At the
// end tables give, per size, the times, their ratios (of the wall time and of
// the processor time), the cost per entry (files and folders) and the system
// calls per entry of each walk, which the benchmark counts itself through
// the kernel's raw_syscalls:sys_enter tracepoint (perf_event_open; it needs
// root or perf_event_paranoid -1, and the tables show "n/a" without it).
//
//   <build>/bin/walk_bench [--benchmark_repetitions=3 --benchmark_enable_random_interleaving=true]
//   <build>/bin/walk_bench --benchmark_filter='/(10000|100000)/'    (the smaller sizes only)
//
// One walk alone, for strace -c -f or valgrind --tool=callgrind: the program
// then enters the tree of N files, makes that one walk and ends, without the
// benchmark library; a marking clears the tree again after its walk.
// "none" does nothing but enter the tree, "clear" only clears it: their
// counts are the start-up to subtract from a scan's and a marking's, as
// bench/walk_counts.py does.
//
//   <build>/bin/walk_bench --walk_once=KIND/N    (KIND: a walk above, none or clear)
//
// The trees are made in a fresh folder under $TMPDIR (or /tmp) and removed at
// the end. With QZ_WALK_TREES=DIR they are kept in DIR/<N> instead and used
// again by later runs (DIR/<N>.done marks a complete tree); remove DIR by hand.
//
// Benchmark code, not product code: it calls the host directly.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/perf_event.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
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

// True for "." and "..", which the walks pass over.
bool IsSelfOrParent(const char* name) { return name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2])); }

// Makes `path`, whose first `length` bytes are a folder's path, the path of
// that folder's entry `name`.
void EntryPath(std::string& path, size_t length, const char* name) {
  path.resize(length);
  if (length) path += '/';
  path += name;
}

// The stored value that a getxattr of `size` bytes read, if any.
std::optional<plat::posix::DosAttrib> Decode(const char* stored, ssize_t size) {
  if (size < 0) return std::nullopt;
  return plat::posix::DecodeDosAttrib(stored, static_cast<size_t>(size));
}

// The bare walk: what every POSIX walk that reads the stored attributes with
// a stat of each entry does. Counts the entries and the files; with `value`
// each file gets one setxattr.
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
      if (IsSelfOrParent(entryName)) continue;
      ++entries;
      EntryPath(path, length, entryName);
      struct stat facts;
      if (fstatat(fd, entryName, &facts, AT_SYMLINK_NOFOLLOW) != 0) continue;
      char stored[256];
      ssize_t size = getxattr(path.c_str(), kXattr, stored, sizeof stored);
      if (S_ISDIR(facts.st_mode)) {
        Folder(fd, entryName, path);
        continue;
      }
      ++files;
      std::optional<plat::posix::DosAttrib> attrib = Decode(stored, size);
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

// The stat-less walk: the floor of a walk that reads the stored attributes.
// One open, getdents64 calls and one close per folder; the entry type comes
// with the name, so an entry costs its getxattr and nothing else. With
// `mark`, a file without the archive attribute has its value read again
// right before the write (as a marking must, to see a change made since the
// listing) and gets the archive attribute with the creation time it records.
struct StatlessWalk {
  bool mark = false;
  int entries = 0, files = 0, flagged = 0;

  void Folder(int parent, const char* name, std::string& path) {
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    size_t length = path.size();
    alignas(dirent64) char block[32768];
    for (ssize_t got; (got = getdents64(fd, block, sizeof block)) > 0;) {
      for (ssize_t at = 0; at < got;) {
        const auto* entry = reinterpret_cast<const dirent64*>(block + at);
        at += entry->d_reclen;
        const char* entryName = entry->d_name;
        if (IsSelfOrParent(entryName)) continue;
        ++entries;
        EntryPath(path, length, entryName);
        char stored[256];
        ssize_t size = getxattr(path.c_str(), kXattr, stored, sizeof stored);
        if (entry->d_type == DT_DIR) {
          Folder(fd, entryName, path);
          continue;
        }
        ++files;
        std::optional<plat::posix::DosAttrib> attrib = Decode(stored, size);
        if (attrib && (attrib->attrib & 0x20)) {
          ++flagged;
        } else if (mark) {
          attrib = Decode(stored, getxattr(path.c_str(), kXattr, stored, sizeof stored));
          std::string value = plat::posix::EncodeDosAttrib(0x20, attrib && attrib->createTime
                                                                     ? *attrib->createTime
                                                                     : kCreateTime);
          setxattr(path.c_str(), kXattr, value.data(), value.size(), 0);
        }
      }
    }
    path.resize(length);
    close(fd);
  }

};

StatlessWalk WalkStatless(bool mark = false) {
  StatlessWalk walk;
  walk.mark = mark;
  std::string path;
  walk.Folder(AT_FDCWD, ".", path);
  return walk;
}

// Gives every file the cleared value again, as it was generated.
void ClearArchive() { WalkBare(&kCleared); }

// Counts this process's system calls (and those of the children it waits
// for) through the raw_syscalls:sys_enter tracepoint; unavailable without
// the right to trace, which Available() tells.
class SyscallCounter {
 public:
  SyscallCounter() {
    for (const char* tracing : {"/sys/kernel/tracing", "/sys/kernel/debug/tracing"}) {
      std::ifstream id(std::string(tracing) + "/events/raw_syscalls/sys_enter/id");
      perf_event_attr attr{};
      if (!(id >> attr.config)) continue;
      attr.type = PERF_TYPE_TRACEPOINT;
      attr.size = sizeof attr;
      attr.inherit = 1;  // find's calls count too
      fd_ = static_cast<int>(syscall(SYS_perf_event_open, &attr, 0, -1, -1, PERF_FLAG_FD_CLOEXEC));
      if (fd_ >= 0) return;
    }
  }
  ~SyscallCounter() {
    if (fd_ >= 0) close(fd_);
  }
  bool Available() const { return fd_ >= 0; }
  // The calls made so far, this read not counted.
  uint64_t Count() const {
    uint64_t count = 0;
    if (fd_ < 0 || read(fd_, &count, sizeof count) != sizeof count) return 0;
    return count - ++reads_;
  }

 private:
  int fd_ = -1;
  mutable uint64_t reads_ = 0;
};

SyscallCounter& Syscalls() {
  static SyscallCounter counter;
  return counter;
}

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

// The processor time and the system calls of the timed parts.
class Measured {
 public:
  void Start() {
    cpu_.Start();
    syscallsAtStart_ = Syscalls().Count();
  }
  void Stop() {
    syscalls_ += Syscalls().Count() - syscallsAtStart_;
    cpu_.Stop();
  }

  // Time per entry, how much of it went to user space and to the kernel,
  // and the system calls per entry.
  void SetCounters(benchmark::State& state, const Tree& tree) const {
    double entries = static_cast<double>(tree.entries()) * state.iterations();
    state.counters["entries"] = tree.entries();
    state.counters["per_entry"] = benchmark::Counter(
        tree.entries(), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["user_ns"] = cpu_.user() * 1e9 / entries;
    state.counters["sys_ns"] = cpu_.system() * 1e9 / entries;
    if (Syscalls().Available()) state.counters["syscalls"] = static_cast<double>(syscalls_) / entries;
  }

 private:
  CpuTimes cpu_;
  uint64_t syscallsAtStart_ = 0, syscalls_ = 0;
};

// A walk timed on its tree; `walk` gives what shows that the walk went
// wrong, or null.
template <class Walk>
void TimeWalk(benchmark::State& state, Walk walk) {
  const Tree& tree = EnterTree(state);
  Measured measured;
  for (auto _ : state) {
    measured.Start();
    const char* wrong = walk(tree);
    measured.Stop();
    if (wrong) state.SkipWithError(wrong);
  }
  measured.SetCounters(state, tree);
}

template <class Counted>
const char* WrongTree(const Counted& walk, const Tree& tree) {
  return walk.entries != tree.entries() || walk.flagged ? "wrong tree" : nullptr;
}

void Scan(benchmark::State& state) {
  TimeWalk(state, [](const Tree&) { return monitor::BACKUPINPROGRESS() ? "a flagged file was found" : nullptr; });
}

void Bare(benchmark::State& state) {
  TimeWalk(state, [](const Tree& tree) { return WrongTree(WalkBare(), tree); });
}

void Statless(benchmark::State& state) {
  TimeWalk(state, [](const Tree& tree) { return WrongTree(WalkStatless(), tree); });
}

// Runs find over the tree and counts its lines: the files it found.
long RunFind() {
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
  return status == 0 ? lines : -1;
}

void Find(benchmark::State& state) {
  TimeWalk(state, [](const Tree& tree) { return RunFind() != tree.files ? "find counted wrong" : nullptr; });
}

// The bound SetFileAttributesA that MAIN hands to the marking, while it lives.
class BoundSetAttributes {
 public:
  BoundSetAttributes()
      : kernel_(rt::LOADLIBRARY("KERNEL32.DLL")),
        call_(rt::GETPROCADDRESS(kernel_, "SetFileAttributesA", rt::NIL, "BOOL", "LPCSTR,DWORD")) {}
  ~BoundSetAttributes() { rt::FREELIBRARY(kernel_); }
  const rt::Value& call() const { return call_; }

 private:
  rt::Value kernel_, call_;
};

// A marking walk, timed from a cleared tree; the tree is cleared again at the end.
template <class Walk>
void TimeMarking(benchmark::State& state, Walk walk) {
  const Tree& tree = EnterTree(state);
  Measured measured;
  for (auto _ : state) {
    state.PauseTiming();
    ClearArchive();
    state.ResumeTiming();
    measured.Start();
    walk();
    measured.Stop();
  }
  BareWalk after = WalkBare();
  if (after.flagged != tree.files) state.SkipWithError("not every file was marked");
  ClearArchive();
  measured.SetCounters(state, tree);
}

void Marking(benchmark::State& state) {
  BoundSetAttributes setAttributes;
  TimeMarking(state, [&] { monitor::MARKFILES(setAttributes.call()); });
}

void BareMarking(benchmark::State& state) {
  TimeMarking(state, [] { WalkBare(&kArchived); });
}

void StatlessMarking(benchmark::State& state) {
  TimeMarking(state, [] { WalkStatless(true); });
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

// The walks in the order of the tables, with their short names there.
struct Walk {
  const char* name;
  const char* shown;
  void (*function)(benchmark::State&);
};
const Walk kWalks[] = {
    {"scan", "scan", Scan},          {"bare_walk", "bare", Bare},
    {"statless_walk", "statless", Statless}, {"find", "find", Find},
    {"marking", "mark", Marking},    {"bare_marking", "bmark", BareMarking},
    {"statless_marking", "slmark", StatlessMarking},
};

// The ratios of the tables: a walk against the least a walk of its kind can do.
struct Ratio {
  const char* shown;
  const char* walk;
  const char* floor;
};
const Ratio kRatios[] = {
    {"scan/bare", "scan", "bare_walk"},       {"scan/sl", "scan", "statless_walk"},
    {"find/bare", "find", "bare_walk"},       {"mark/bmark", "marking", "bare_marking"},
    {"mark/slmark", "marking", "statless_marking"},
};

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
      if (single && run.counters.count("syscalls")) syscalls_[name] = run.counters.at("syscalls").value;
      if (single && run.counters.count("user_ns")) {
        cpu_[name] = run.counters.at("user_ns").value + run.counters.at("sys_ns").value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintSummary(const std::vector<int>& sizes) {
    std::vector<Column> times, wallRatios, cpuRatios, perEntry;
    for (const Walk& walk : kWalks) {
      std::string name = walk.name;
      times.push_back({walk.shown, 1, [=, this](int files) { return Median(name, files) * 1e3; }});
      perEntry.push_back({std::string(walk.shown) + " ns", 0,
                          [=, this](int files) { return Median(name, files) * 1e9 / (files + kFolders); }});
    }
    for (const Walk& walk : kWalks) {
      std::string name = walk.name;
      perEntry.push_back({std::string(walk.shown) + " sc", 3, [=, this](int files) { return SyscallsPerEntry(name, files); }});
    }
    for (const Ratio& ratio : kRatios) {
      std::string walk = ratio.walk, floor = ratio.floor;
      wallRatios.push_back({ratio.shown, 3, [=, this](int files) {
                              return Median(walk, files) / Median(floor, files);
                            }});
      cpuRatios.push_back({ratio.shown, 3, [=, this](int files) { return Cpu(walk, files) / Cpu(floor, files); }});
    }
    PrintTable("median times in ms", sizes, times);
    PrintTable("their ratios within one run (wall time)", sizes, wallRatios);
    PrintTable("the same ratios of processor time (user and kernel), which other load moves less", sizes,
               cpuRatios);
    PrintTable("per entry (files + folders): ns, and system calls (sc)", sizes, perEntry);
    if (!Syscalls().Available()) {
      std::printf("(no system calls counted: the raw_syscalls tracepoint needs root; see --walk_once)\n");
    }
    for (const auto& [name, memory] : memory_) {
      std::printf("%s: at most %.2f MB on the heap, peak RSS grew by %.2f MB\n", name.c_str(),
                  memory.first / 1048576.0, memory.second / 1048576.0);
    }
  }

 private:
  // A column of a table: its head, the decimals it shows, and its value for
  // a size (NaN where there is none).
  struct Column {
    std::string head;
    int decimals;
    std::function<double(int files)> value;
  };

  // A title, the column heads, and a row for each size that was measured.
  void PrintTable(const char* title, const std::vector<int>& sizes, const std::vector<Column>& columns) {
    std::printf("\n%s\n%9s", title, "files");
    for (const Column& column : columns) std::printf(" %11s", column.head.c_str());
    std::printf("\n");
    for (int files : sizes) {
      if (!Measured(files)) continue;
      std::printf("%9d", files);
      for (const Column& column : columns) {
        double value = column.value(files);
        if (std::isnan(value)) {
          std::printf(" %11s", "n/a");
        } else {
          std::printf(" %11.*f", column.decimals, value);
        }
      }
      std::printf("\n");
    }
  }

  static std::string Key(const std::string& walk, int files) { return walk + "/" + std::to_string(files); }

  // System calls per entry.
  double SyscallsPerEntry(const std::string& walk, int files) {
    auto found = syscalls_.find(Key(walk, files));
    return found == syscalls_.end() ? NAN : found->second;
  }

  // False for a size that was filtered out.
  bool Measured(int files) {
    for (const Walk& walk : kWalks) {
      if (Median(walk.name, files) > 0) return true;
    }
    return false;
  }

  // Processor nanoseconds per entry.
  double Cpu(const std::string& walk, int files) {
    auto found = cpu_.find(Key(walk, files));
    return found == cpu_.end() ? NAN : found->second;
  }

  double Median(const std::string& walk, int files) {
    std::string name = Key(walk, files);
    if (medians_.count(name)) return medians_[name];
    auto found = seconds_.find(name);
    if (found == seconds_.end() || found->second.empty()) return NAN;
    std::vector<double> times = found->second;
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  }

  std::map<std::string, std::vector<double>> seconds_;
  std::map<std::string, double> medians_;  // of repetitions, when only aggregates are reported
  std::map<std::string, std::pair<double, double>> memory_;
  std::map<std::string, double> syscalls_;  // per entry
  std::map<std::string, double> cpu_;       // processor nanoseconds per entry
};

// One walk of the tree of N files, alone, for strace and callgrind; false for
// a request that names no walk.
bool WalkOnce(const std::string& request) {
  size_t slash = request.find('/');
  if (slash == std::string::npos) return false;
  std::string kind = request.substr(0, slash);
  int files = std::atoi(request.c_str() + slash + 1);
  if (files <= 0) return false;
  const Tree& tree = AllTrees().For(files);
  if (chdir(tree.root.c_str()) != 0) Die("chdir");
  bool marking = kind == "marking" || kind == "bare_marking" || kind == "statless_marking";
  if (kind == "scan") {
    monitor::BACKUPINPROGRESS();
  } else if (kind == "bare_walk") {
    WalkBare();
  } else if (kind == "statless_walk") {
    WalkStatless();
  } else if (kind == "find") {
    RunFind();
  } else if (kind == "marking") {
    BoundSetAttributes setAttributes;
    monitor::MARKFILES(setAttributes.call());
  } else if (kind == "bare_marking") {
    WalkBare(&kArchived);
  } else if (kind == "statless_marking") {
    WalkStatless(true);
  } else if (kind != "none" && kind != "clear") {
    return false;
  }
  if (marking || kind == "clear") ClearArchive();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char* kOnce = "--walk_once=";
  if (argc == 2 && std::strncmp(argv[1], kOnce, std::strlen(kOnce)) == 0) {
    if (WalkOnce(argv[1] + std::strlen(kOnce))) return 0;
    std::fprintf(stderr, "usage: walk_bench --walk_once=KIND/N (KIND: a walk, none or clear)\n");
    return 1;
  }
  const std::vector<int> sizes = {10000, 100000, 1000000};
  for (int files : sizes) {
    for (const Walk& walk : kWalks) {
      benchmark::RegisterBenchmark(walk.name, walk.function)
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
