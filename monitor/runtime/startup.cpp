#include "monitor/runtime/startup.h"

#include "monitor/runtime/error.h"
#include "monitor/runtime/internal.h"

namespace rt {

namespace {

// A command line of more words than this keeps the first ones and drops the
// rest (switches count among them, as they take their places in the table
// of parameters): MAIN reads only seven, so nothing it needs is lost.
constexpr size_t kMaxWords = 19;

bool IsAboveBlank(char c) { return static_cast<unsigned char>(c) > 0x20; }
bool IsBlankOrControl(char c) { return c >= 0x01 && c <= 0x20; }

// The line without the program's name and the blanks and control characters
// after it. A quoted name ends at its closing quote.
std::string_view SkipProgramName(std::string_view line) {
  size_t i = 0;
  if (!line.empty() && line[0] == '"') {
    size_t close = line.find('"', 1);
    i = close == std::string_view::npos ? line.size() : close + 1;
  } else {
    while (i < line.size() && IsAboveBlank(line[i])) ++i;
  }
  while (i < line.size() && IsBlankOrControl(line[i])) ++i;
  return line.substr(i);
}

bool IsSwitch(const std::string& word) { return word.size() >= 2 && word.compare(0, 2, "//") == 0; }

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::string_view rest = SkipProgramName(commandLine);
  std::vector<std::string> words;
  size_t i = 0;
  while (i < rest.size() && words.size() < kMaxWords) {
    if (rest[i] == ' ') {
      ++i;
      continue;
    }
    size_t end = rest.find(' ', i);
    if (end == std::string_view::npos) end = rest.size();
    words.emplace_back(rest.substr(i, end - i));
    i = end;
  }
  std::erase_if(words, IsSwitch);
  return words;
}

Parameters::Parameters(const std::vector<std::string>& words)
    : values_(words.begin(), words.end()) {}

const Value& Parameters::operator[](int position) const {
  if (position < 1 || position > Count()) return NIL;
  return values_[static_cast<size_t>(position - 1)];
}

int PCOUNT(const Parameters& received, Here caller) {
  Activation self("PCOUNT", caller);
  return received.Count();
}

int Start(plat::Platform& os, ErrorSysRoutine errorsys, MainRoutine main) {
  UsePlatform(os);
  ResetState();
  Parameters parameters(SplitCommandLine(os.system.CommandLine()));
  try {
    errorsys();
    main(parameters);
  } catch (const QuitSignal&) {
    // The quit request ends MAIN and every routine it called; shutdown follows.
  } catch (const UnrecoverableFailure&) {
    // Already written to standard error; the program ends without shutdown.
    return 1;
  }
  int exitCode = internal::S().exitCode;
  Shutdown();
  return exitCode;
}

int ERRORLEVEL(int code, Here caller) {
  Activation self("ERRORLEVEL", caller);
  int previous = internal::S().exitCode;
  internal::S().exitCode = code;
  return previous;
}

void Shutdown() {
  internal::State& state = internal::S();
  state.quitRequested = false;
  internal::CloseAlternateFile();
  state.handler = Value();
  state.levels.clear();
  state.handlersRunning = 0;
}

}  // namespace rt
