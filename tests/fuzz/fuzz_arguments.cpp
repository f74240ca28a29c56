// The launcher's command line: whatever the text, each of the four arguments
// stays within its capacity, holds no double quote, and is made of the
// line's own characters in their order; the defaults fill what is missing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "launcher/start.h"

namespace {

// True when every character of `part` occurs in `line`, in the same order.
bool IsDrawnFrom(std::string_view part, std::string_view line) {
  size_t at = 0;
  for (char c : part) {
    at = line.find(c, at);
    if (at == std::string_view::npos) return false;
    ++at;
  }
  return true;
}

void Check(const std::string& argument, size_t capacity, std::string_view line) {
  if (argument.size() > capacity) std::abort();
  if (argument.find('"') != std::string::npos) std::abort();
  if (!IsDrawnFrom(argument, line)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  launcher::Arguments a = launcher::ParseCommandLine(line);
  if (a.localFolder.empty()) std::abort();
  if (a.localFolder != launcher::kDefaultLocalFolder) {
    Check(a.localFolder, launcher::kLocalFolderCapacity, line);
  }
  Check(a.passThrough, launcher::kPassThroughCapacity, line);
  Check(a.mode, launcher::kModeCapacity, line);
  Check(a.requestFile, launcher::kRequestFileCapacity, line);

  // Argument by argument, the rest is always a tail of the text given.
  std::string argument;
  std::string_view rest = line;
  for (int i = 0; i < 4; ++i) {
    std::string_view next = launcher::NextArgument(rest, argument, 7, "");
    if (next.size() > rest.size() || next != rest.substr(rest.size() - next.size())) std::abort();
    if (argument.size() > 7 || argument.find('"') != std::string::npos) std::abort();
    rest = next;
  }
  return 0;
}
