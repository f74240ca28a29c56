#include "platform/posix/inifile.h"

#include <vector>

namespace plat::posix {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

// The lines of `text` without their CR LF, LF or CR ends.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
      ++end;
    }
    start = end + 1;
  }
  return lines;
}

// The name of a section header line "[name]", or false for any other line.
bool SectionName(std::string_view line, std::string_view& name) {
  line = Trimmed(line);
  if (line.empty() || line.front() != '[') return false;
  size_t close = line.find(']');
  name = Trimmed(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
  return true;
}

bool IsKeyLine(std::string_view line, std::string_view key) {
  size_t equals = line.find('=');
  return equals != std::string_view::npos && SameIgnoringCase(Trimmed(line.substr(0, equals)), key);
}

}  // namespace

std::string WriteIniValue(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view value) {
  std::vector<std::string_view> lines = Lines(text);
  std::string entry = std::string(key) + "=" + std::string(value);
  std::string wanted(Trimmed(section)), wantedKey(Trimmed(key));

  // Find the section, the key line inside it, and the section's last non-blank line.
  size_t sectionLine = lines.size(), keyLine = lines.size(), lastFilled = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (SectionName(lines[i], name)) {
      if (sectionLine != lines.size()) break;  // the end of the wanted section
      if (SameIgnoringCase(name, wanted)) sectionLine = lastFilled = i;
    } else if (sectionLine != lines.size()) {
      if (IsKeyLine(lines[i], wantedKey)) {
        keyLine = i;
        break;
      }
      if (!Trimmed(lines[i]).empty()) lastFilled = i;
    }
  }

  std::string out;
  out.reserve(text.size() + entry.size() + section.size() + 8);
  for (size_t i = 0; i < lines.size(); ++i) {
    out += i == keyLine ? std::string_view(entry) : lines[i];
    out += "\r\n";
    if (keyLine == lines.size() && i == lastFilled) out += entry + "\r\n";
  }
  if (sectionLine == lines.size()) out += "[" + std::string(section) + "]\r\n" + entry + "\r\n";
  return out;
}

}  // namespace plat::posix
