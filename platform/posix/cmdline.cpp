#include "platform/posix/cmdline.h"

namespace plat::posix {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitArguments(std::string_view text) {
  std::vector<std::string> arguments;
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i == text.size()) return arguments;
  std::string current;
  // quotes: 0 outside quotes, 1 inside; 2 right after a closing quote, where a
  // further quote is a literal one (the `""` rule), then back to 0.
  int quotes = 0;
  size_t backslashes = 0;
  while (i < text.size()) {
    char c = text[i];
    if (IsBlank(c) && quotes == 0) {
      current.append(backslashes, '\\');
      backslashes = 0;
      arguments.push_back(std::move(current));
      current.clear();
      while (i < text.size() && IsBlank(text[i])) ++i;
      if (i == text.size()) return arguments;
      continue;
    }
    if (c == '\\') {
      ++backslashes;
      ++i;
      continue;
    }
    if (c == '"') {
      current.append(backslashes / 2, '\\');
      if (backslashes % 2 == 1) {
        current += '"';
      } else {
        ++quotes;
      }
      backslashes = 0;
      ++i;
      // Runs of quotes: every third one is a literal quote.
      while (i < text.size() && text[i] == '"') {
        if (++quotes == 3) {
          current += '"';
          quotes = 0;
        }
        ++i;
      }
      if (quotes == 2) quotes = 0;
      continue;
    }
    current.append(backslashes, '\\');
    backslashes = 0;
    current += c;
    ++i;
  }
  current.append(backslashes, '\\');
  arguments.push_back(std::move(current));
  return arguments;
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  size_t end = 0;
  std::string program;
  if (!commandLine.empty() && commandLine[0] == '"') {
    size_t close = commandLine.find('"', 1);
    program = commandLine.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
    end = close == std::string_view::npos ? commandLine.size() : close + 1;
  } else {
    while (end < commandLine.size() && !IsBlank(commandLine[end])) ++end;
    program = commandLine.substr(0, end);
  }
  std::vector<std::string> words = {program};
  for (std::string& argument : SplitArguments(commandLine.substr(end))) {
    words.push_back(std::move(argument));
  }
  return words;
}

std::string QuoteArgument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos) {
    return std::string(argument);
  }
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');  // they stand before the closing quote
  quoted += '"';
  return quoted;
}

std::string JoinArguments(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += ' ';
    line += QuoteArgument(argument);
  }
  return line;
}

}  // namespace plat::posix
