// The profile-string write over any existing INI file: afterwards the line
// key=value is present below a header of its section, and every other line
// of the file is still there, in its order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/inifile.h"

namespace {

// Lines ending in CR LF, LF or CR, without their ends.
std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return lines;
}

std::string Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

std::string Lower(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  return text;
}

// The section a header line opens, or false when the line is no header.
bool HeaderName(const std::string& line, std::string& name) {
  std::string t = Trimmed(line);
  if (t.empty() || t[0] != '[') return false;
  size_t close = t.find(']');
  name = Lower(Trimmed(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
  return true;
}

bool IsKeyLine(const std::string& line, const std::string& key) {
  size_t equals = line.find('=');
  return equals != std::string::npos && Lower(Trimmed(line.substr(0, equals))) == Lower(key);
}

// A name of letters, digits and underscores made from input bytes.
std::string Name(const uint8_t*& data, size_t& size, size_t length, const char* fallback) {
  static const char kAlphabet[] = "ABCSETINGabcsetings_019";
  std::string name;
  for (; length > 0 && size > 0; --length, ++data, --size) {
    name += kAlphabet[*data % (sizeof(kAlphabet) - 1)];
  }
  return name.empty() ? fallback : name;
}

}  // namespace

// Input: three length bytes, the section, key and value drawn from the
// bytes after them, and the rest as the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  size_t sectionLength = data[0] % 9, keyLength = data[1] % 9, valueLength = data[2] % 5;
  data += 3;
  size -= 3;
  std::string section = Name(data, size, sectionLength, "SETTINGS");
  std::string key = Name(data, size, keyLength, "MULTITASKING_OFF");
  std::string value = valueLength ? Name(data, size, valueLength, "") : "";
  std::string_view text(reinterpret_cast<const char*>(data), size);

  std::string out = plat::posix::WriteIniValue(text, section, key, value);
  // Every line ends with CR LF.
  if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) std::abort();
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && (i + 1 == out.size() || out[i + 1] != '\n')) std::abort();
    if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r')) std::abort();
  }

  std::vector<std::string> before = Lines(text), after = Lines(out);
  std::string entry = key + "=" + value;
  // The first key line below the last header of the section is the entry.
  size_t entryLine = after.size();
  std::string current;
  bool inSection = false;
  for (size_t i = 0; i < after.size() && entryLine == after.size(); ++i) {
    std::string name;
    if (HeaderName(after[i], name)) {
      inSection = name == Lower(section);
    } else if (inSection && IsKeyLine(after[i], key)) {
      if (after[i] != entry) std::abort();
      entryLine = i;
    }
  }
  if (entryLine == after.size()) std::abort();

  // Apart from the entry, the lines are the old ones: the entry replaced a
  // key line in place, was added to its section, or came with a new section
  // at the end.
  std::vector<std::string> kept = after;
  if (after.size() == before.size()) {
    if (!IsKeyLine(before[entryLine], key)) std::abort();
    kept[entryLine] = before[entryLine];
  } else if (after.size() == before.size() + 1) {
    kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(entryLine));
  } else if (after.size() == before.size() + 2 && entryLine + 1 == after.size()) {
    if (!HeaderName(after[entryLine - 1], current) || current != Lower(section)) std::abort();
    kept.resize(before.size());
  } else {
    std::abort();
  }
  if (kept != before) std::abort();
  return 0;
}
