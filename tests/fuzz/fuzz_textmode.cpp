// The relay requests' file reading: a byte count (any text, read as atol
// reads it) and a request file of any bytes, read in text mode in pieces of
// any size. The text never exceeds the count or the buffer, equals the plain
// text-mode reading of the file, and a run request's command is cut into a
// program that ends with its extension and the parameters after one
// separator.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/relay.h"

namespace {

constexpr size_t kMessageCapacity = 5119;
constexpr size_t kCommandCapacity = 259;

// A file held in memory that hands out its bytes in pieces of chosen sizes,
// as a read of a file on a network share may.
class PiecewiseFile : public plat::File {
 public:
  PiecewiseFile(std::string bytes, std::vector<uint32_t> pieces)
      : bytes_(std::move(bytes)), pieces_(std::move(pieces)) {}
  bool Read(void* buffer, uint32_t count, uint32_t& done) override {
    uint32_t piece = pieces_.empty() ? count : std::max<uint32_t>(1, pieces_[reads_++ % pieces_.size()]);
    done = static_cast<uint32_t>(std::min<size_t>({count, piece, bytes_.size() - at_}));
    std::memcpy(buffer, bytes_.data() + at_, done);
    at_ += done;
    return true;
  }
  bool Write(const void*, uint32_t, uint32_t& done) override {
    done = 0;
    return false;
  }
  bool Seek(int64_t, plat::SeekOrigin, uint64_t*) override { return false; }
  bool Truncate(uint64_t) override { return false; }
  bool Size(uint64_t& size) override {
    size = bytes_.size();
    return true;
  }

 private:
  std::string bytes_;
  std::vector<uint32_t> pieces_;
  size_t at_ = 0;
  size_t reads_ = 0;
};

// Text mode as the C library of the product's platform reads it: CR LF
// gives LF, 0x1A ends the text, every other byte stands for itself.
std::string PlainTextMode(const std::string& bytes, size_t count) {
  std::string text;
  for (size_t i = 0; i < bytes.size() && text.size() < count; ++i) {
    if (bytes[i] == '\x1A') break;
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text += bytes[i];
  }
  return text;
}

void CheckCut(const std::string& command) {
  std::string program, parameters;
  if (!launcher::SplitRunCommand(command, program, parameters)) {
    if (command.find(".EXE") != std::string::npos || command.find(".exe") != std::string::npos ||
        command.find(".Exe") != std::string::npos) {
      std::abort();
    }
    return;
  }
  if (program.size() < 4 || command.compare(0, program.size(), program) != 0) std::abort();
  std::string extension = program.substr(program.size() - 4);
  if (extension != ".EXE" && extension != ".exe" && extension != ".Exe") std::abort();
  // An upper-case extension anywhere wins; the first occurrence of the form ends the program.
  if (command.find(".EXE") != std::string::npos && extension != ".EXE") std::abort();
  if (command.find(extension) != program.size() - 4) std::abort();
  size_t rest = program.size() + 1;
  std::string expected = rest < command.size() ? command.substr(rest) : "";
  if (parameters != expected) std::abort();
}

}  // namespace

// Input: one byte choosing the request (even: message file, odd: run
// request) and the number of read pieces, the byte count's text up to the
// first NUL, then the file's bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  bool runRequest = data[0] & 1;
  size_t pieceCount = (data[0] >> 1) & 7;
  const char* rest = reinterpret_cast<const char*>(data + 1);
  size_t restSize = size - 1;
  const char* nul = static_cast<const char*>(std::memchr(rest, 0, restSize));
  size_t countLength = nul ? static_cast<size_t>(nul - rest) : restSize;
  std::string countText(rest, countLength);
  std::string bytes = nul ? std::string(nul + 1, restSize - countLength - 1) : std::string();
  std::vector<uint32_t> pieces;
  for (size_t i = 0; i < pieceCount && i < bytes.size(); ++i) {
    pieces.push_back(static_cast<unsigned char>(bytes[i]));
  }

  size_t capacity = runRequest ? kCommandCapacity : kMessageCapacity;
  size_t count = launcher::ParseByteCount(countText, capacity);
  if (count > capacity) std::abort();
  PiecewiseFile file(bytes, pieces);
  std::string text = launcher::ReadTextMode(file, count);
  if (text.size() > count) std::abort();
  if (text != PlainTextMode(bytes, count)) std::abort();
  if (runRequest) CheckCut(text);
  return 0;
}
