// The split of the monitor's command line into parameter words: every word
// is a non-empty piece of the line without blanks, no switch survives, and
// there are never more than 19.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "monitor/runtime/startup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> words = rt::SplitCommandLine(line);
  if (words.size() > 19) std::abort();
  for (const std::string& word : words) {
    if (word.empty() || word.find(' ') != std::string::npos) std::abort();
    if (word.size() >= 2 && word.compare(0, 2, "//") == 0) std::abort();
    if (line.find(word) == std::string_view::npos) std::abort();
  }
  return 0;
}
