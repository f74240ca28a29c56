#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/cmdline.h"
#include "platform/posix/error.h"
#include "platform/posix/facets.h"
#include "platform/posix/paths.h"
#include "platform/posix/system.h"

namespace plat::posix {

namespace {

// Windows 10, build 19045, as GetVersion packs it.
constexpr uint32_t kVersion = 0x4A65000A;

std::vector<std::string> OwnArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> words;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    words.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

std::string ReadCommandLine() {
  std::vector<std::string> words = OwnArguments();
  const char* given = std::getenv(kCommandLineVariable);
  std::string text = given ? given : "";
  if (given) unsetenv(kCommandLineVariable);
  if (given && CommandLineMatches(text, words)) return text;
  return JoinPlainly(words);
}

class PosixSystemInfo : public SystemInfo {
 public:
  bool ModulePath(std::string& path) override {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length < 0) return FailErrno(errno, "");
    path = ToWindowsPath(std::string(buffer, static_cast<size_t>(length)));
    return true;
  }

  std::string CommandLine() override {
    std::call_once(once_, [this] { commandLine_ = ReadCommandLine(); });
    return commandLine_;
  }

  uint32_t Version() override { return kVersion; }

  uint32_t AvailablePhysicalMemory() override {
    std::ifstream in("/proc/meminfo");
    std::string line;
    while (std::getline(in, line)) {
      unsigned long long kilobytes = 0;
      if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &kilobytes) == 1) {
        unsigned long long bytes = kilobytes * 1024;
        return bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
      }
    }
    return 0;
  }

  bool NetworkUserName(std::string& name) override {
    std::vector<char> buffer(16384);
    passwd entry;
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
      return Fail(kErrorNoNetwork);
    }
    name = found->pw_name;
    return true;
  }

  // There is no registry.
  RegistryRead MachineNumber(const std::string& key, const std::string& value, uint32_t& number) override {
    SetLastError(kErrorFileNotFound);
    return RegistryRead::kKeyMissing;
  }

 private:
  std::once_flag once_;
  std::string commandLine_;
};

}  // namespace

bool CommandLineMatches(const std::string& text, const std::vector<std::string>& argv) {
  std::vector<std::string> words = SplitCommandLine(text);
  if (argv.empty() || words.size() != argv.size()) return false;
  return std::equal(words.begin() + 1, words.end(), argv.begin() + 1);
}

std::string JoinPlainly(const std::vector<std::string>& argv) {
  std::string line;
  for (size_t i = 0; i < argv.size(); ++i) {
    if (i > 0) line += ' ';
    bool quote = argv[i].empty() || argv[i].find_first_of(" \t") != std::string::npos;
    line += quote ? "\"" + argv[i] + "\"" : argv[i];
  }
  return line;
}

SystemInfo& NativeSystemInfo() {
  static PosixSystemInfo system;
  return system;
}

}  // namespace plat::posix
