#include "monitor/runtime/files.h"

#include <algorithm>

#include "monitor/runtime/internal.h"

namespace rt {

namespace {

// Each attribute letter with its bit, in the order the letters are shown.
struct Letter {
  char letter;
  uint32_t bit;
};
constexpr Letter kLetters[] = {
    {'R', plat::kAttrReadOnly},   {'H', plat::kAttrHidden},
    {'S', plat::kAttrSystem},     {'V', plat::kAttrVolumeLabel},
    {'D', plat::kAttrDirectory},  {'A', plat::kAttrArchive},
    {'E', plat::kAttrEncrypted},  {'T', plat::kAttrTemporary},
    {'P', plat::kAttrSparse},     {'L', plat::kAttrReparsePoint},
    {'C', plat::kAttrCompressed}, {'O', plat::kAttrOffline},
    {'X', plat::kAttrNotContentIndexed}, {'I', plat::kAttrDevice},
    {'M', plat::kAttrBit15},
};

// What every listing requests, whatever letters it is given.
constexpr uint32_t kBaseRequest = plat::kAttrReadOnly | plat::kAttrArchive |
                                  plat::kAttrTemporary | plat::kAttrSparse |
                                  plat::kAttrReparsePoint | plat::kAttrCompressed |
                                  plat::kAttrOffline | plat::kAttrNotContentIndexed |
                                  plat::kAttrEncrypted | plat::kAttrBit15;

uint32_t RequestedAttributes(const Value& letters) {
  uint32_t request = kBaseRequest;
  for (char c : letters.Text()) {
    char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    for (const Letter& letter : kLetters) {
      if (letter.letter == upper) request |= letter.bit;
    }
  }
  return request;
}

bool PassesAttributeTest(uint32_t attributes, uint32_t request) {
  return attributes == 0 || attributes == plat::kAttrNormal ||
         attributes == plat::kAttrDirectory || (attributes & request) != 0;
}

bool IsVisible(uint32_t attributes, uint32_t request) {
  for (uint32_t bit : {plat::kAttrHidden, plat::kAttrSystem, plat::kAttrDirectory,
                       plat::kAttrVolumeLabel}) {
    if ((attributes & bit) && !(request & bit)) return false;
  }
  return true;
}

// The local date and time of last writes. Files written together share their
// second, and one conversion to local time serves them all; the conversion is
// what costs.
class LocalTimes {
 public:
  // The date and "hh:mm:ss" of a last write; the empty date and "00:00:00"
  // when it cannot be converted.
  void Convert(plat::FileTime time, Date& date, std::string& clock) {
    uint64_t second = time / 10000000;
    if (!known_ || second != second_) {
      plat::CalendarTime local;
      converted_ = Os().clock.ToLocalTime(time, local);
      date_ = converted_ ? Date::FromCalendar(local.year, local.month, local.day) : Date();
      clock_ = converted_ ? internal::ClockText(local) : "00:00:00";
      second_ = second;
      known_ = true;
    }
    date = date_;
    clock = clock_;
  }

 private:
  bool known_ = false, converted_ = false;
  uint64_t second_ = 0;
  Date date_;
  std::string clock_;
};

// One directory entry.
Value EntryOf(plat::FindEntry& found, LocalTimes& times) {
  Date date;
  std::string time;
  times.Convert(found.lastWriteTime, date, time);
  bool folder = found.attributes & plat::kAttrDirectory;
  Array entry;
  entry.reserve(5);
  entry.emplace_back(std::move(found.name));
  entry.emplace_back(folder ? 0u : static_cast<uint32_t>(found.size));
  entry.emplace_back(date);
  entry.emplace_back(std::move(time));
  entry.emplace_back(AttributeLetters(found.attributes));
  return entry;
}

// Starts `search` for `pattern` ("*.*" when it is not a text) and hands
// every entry that passes the attribute and visibility tests to `keep`.
template <class Search, class Keep>
void ListMatching(Search search, const Value& pattern, const Value& attributes, Keep keep) {
  uint32_t request = RequestedAttributes(attributes);
  plat::FindEntry found;
  std::unique_ptr<plat::DirectorySearch> listing =
      (Os().files.*search)(pattern.IsText() ? pattern.Text() : "*.*", found);
  if (!listing) return;
  do {
    if (PassesAttributeTest(found.attributes, request) && IsVisible(found.attributes, request)) {
      keep(found);
    }
  } while (listing->Next(found));
}

bool AnyEntryMatches(const std::string& pattern) {
  plat::FindEntry first;
  return Os().files.FindFirst(pattern, first) != nullptr;
}

}  // namespace

std::string AttributeLetters(uint32_t attributes) {
  char letters[sizeof kLetters / sizeof kLetters[0]];
  size_t count = 0;
  for (const Letter& letter : kLetters) {
    if (attributes & letter.bit) letters[count++] = letter.letter;
  }
  return std::string(letters, count);
}

bool FILE(const Value& name, Here caller) {
  Activation self("FILE", caller);
  return name.IsText() && AnyEntryMatches(name.Text());
}

Value FERASE(const Value& name, Here caller) {
  Activation self("FERASE", caller);
  if (!name.IsText()) return -1;
  return Os().files.Delete(name.Text()) ? 0 : -1;
}

Value MEMOREAD(const Value& name, Here caller) {
  Activation self("MEMOREAD", caller);
  if (!name.IsText()) return "";
  std::unique_ptr<plat::File> file =
      Os().files.Open(name.Text(), plat::kRead, plat::kShareRead | plat::kShareWrite,
                      plat::Disposition::kOpenExisting);
  uint64_t size = 0;
  // Files of 4 GiB or more are not read: a text holds at most 32-bit lengths.
  if (!file || !file->Seek(0, plat::SeekOrigin::kEnd, &size) || size == 0 || size > 0xFFFFFFFFu) {
    return "";
  }
  char last = 0;
  uint32_t done = 0;
  if (file->Seek(-1, plat::SeekOrigin::kEnd) && file->Read(&last, 1, done) && done == 1 &&
      last == '\x1A') {
    --size;
  }
  std::string content(static_cast<size_t>(size), '\0');
  if (!file->Seek(0, plat::SeekOrigin::kBegin)) return "";
  size_t filled = 0;
  while (filled < content.size()) {
    uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(content.size() - filled, 1 << 24));
    if (!file->Read(content.data() + filled, chunk, done)) return "";
    if (done == 0) break;
    filled += done;
  }
  content.resize(filled);
  return content;
}

Value DIRECTORY(const Value& pattern, const Value& attributes, Here caller) {
  Activation self("DIRECTORY", caller);
  Array entries;
  LocalTimes times;
  ListMatching(&plat::FileSystem::FindFirst, pattern, attributes,
               [&](plat::FindEntry& found) { entries.push_back(EntryOf(found, times)); });
  return entries;
}

WalkListing::WalkListing(const Value& pattern, const Value& attributes, Here caller) {
  Activation self("DIRECTORY", caller);
  // Room for a small folder from the start: most folders are.
  names_.reserve(256);
  entries_.reserve(16);
  ListMatching(&plat::FileSystem::FindFirstForWalk, pattern, attributes, [&](plat::FindEntry& found) {
    names_ += found.name;
    entries_.push_back({names_.size(), found.attributes});
  });
}

}  // namespace rt
