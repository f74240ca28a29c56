#include "platform/posix/dosattrib.h"

#include <bit>
#include <cstring>

namespace plat::posix {

namespace {

constexpr uint32_t kValidAttrib = 0x01;
constexpr uint32_t kValidCreateTime = 0x10;

// A little-endian reader that fails, instead of reading past the end.
class Reader {
 public:
  Reader(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  size_t offset() const { return offset_; }
  void Align(size_t unit) { offset_ = (offset_ + unit - 1) / unit * unit; }
  bool Skip(size_t count) {
    if (count > size_ || offset_ > size_ - count) return false;
    offset_ += count;
    return true;
  }
  template <typename T>
  bool Read(T& value) {
    if (sizeof(T) > size_ || offset_ > size_ - sizeof(T)) return false;
    uint64_t result = 0;
    for (size_t i = 0; i < sizeof(T); ++i) result |= uint64_t{data_[offset_ + i]} << (8 * i);
    value = static_cast<T>(result);
    offset_ += sizeof(T);
    return true;
  }
  // Finds the NUL that ends a string and moves past it.
  bool SkipString() {
    const void* nul = offset_ < size_ ? std::memchr(data_ + offset_, 0, size_ - offset_) : nullptr;
    if (!nul) return false;
    offset_ = static_cast<const unsigned char*>(nul) - data_ + 1;
    return true;
  }

 private:
  const unsigned char* data_;
  size_t size_;
  size_t offset_ = 0;
};

int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "0x" and 1 to 8 hex digits, optionally followed by one NUL that ends the value.
std::optional<DosAttrib> DecodeText(const unsigned char* data, size_t size) {
  if (size > 0 && data[size - 1] == 0) --size;
  if (size < 3 || size > 10 || data[0] != '0' || data[1] != 'x') return std::nullopt;
  uint32_t attrib = 0;
  for (size_t i = 2; i < size; ++i) {
    int digit = HexDigit(data[i]);
    if (digit < 0) return std::nullopt;
    attrib = attrib << 4 | static_cast<uint32_t>(digit);
  }
  return DosAttrib{attrib, std::nullopt};
}

// The body of versions 3 to 5: valid flags decide which fields count.
std::optional<DosAttrib> DecodeFlagged(Reader& in, uint16_t version) {
  uint32_t flags = 0, attrib = 0, eaSize = 0;
  uint64_t itime = 0, size = 0, allocSize = 0, createTime = 0, changeTime = 0;
  if (!in.Read(flags) || !in.Read(attrib)) return std::nullopt;
  bool ok = version == 5   ? in.Read(createTime)
            : version == 4 ? in.Read(itime) && in.Read(createTime)
                           : in.Read(eaSize) && in.Read(size) && in.Read(allocSize) &&
                                 in.Read(createTime) && in.Read(changeTime);
  if (!ok) return std::nullopt;
  DosAttrib result;
  if (flags & kValidAttrib) result.attrib = attrib;
  if (flags & kValidCreateTime) result.createTime = createTime;
  return result;
}

std::optional<DosAttrib> DecodeNdr(const unsigned char* data, size_t size) {
  Reader in(data, size);
  uint16_t version = 0, level = 0;
  if (!in.SkipString()) return std::nullopt;
  in.Align(2);
  if (!in.Read(version) || !in.Read(level) || level != version) return std::nullopt;
  in.Align(4);
  uint32_t attrib = 0, eaSize = 0, flags = 0;
  uint64_t size64 = 0, allocSize = 0, createTime = 0, changeTime = 0, writeTime = 0;
  switch (version) {
    case 1:  // attrib, ea_size, size, alloc_size, create_time, change_time
      if (!in.Read(attrib) || !in.Read(eaSize) || !in.Read(size64) || !in.Read(allocSize) ||
          !in.Read(createTime) || !in.Read(changeTime)) {
        return std::nullopt;
      }
      return DosAttrib{attrib, createTime};
    case 2:  // flags, attrib, ea_size, size, alloc_size, create, change, write time, name
      if (!in.Read(flags) || !in.Read(attrib) || !in.Read(eaSize) || !in.Read(size64) ||
          !in.Read(allocSize) || !in.Read(createTime) || !in.Read(changeTime) ||
          !in.Read(writeTime) || !in.SkipString()) {
        return std::nullopt;
      }
      return DosAttrib{attrib, createTime};
    case 3:
    case 4:
    case 5:
      return DecodeFlagged(in, version);
    default:
      return std::nullopt;
  }
}

// The version 5 value as this layer and the SMB servers write it: an empty
// text, version and level 5, then the body (see EncodeDosAttrib).
constexpr unsigned char kVersion5Head[] = {0, 0, 5, 0, 5, 0, 0, 0};
constexpr size_t kVersion5Size = sizeof kVersion5Head + 16;

template <typename T>
T LittleEndian(const unsigned char* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof value);
  if constexpr (std::endian::native == std::endian::big) {
    T swapped = 0;
    for (size_t i = 0; i < sizeof value; ++i) {
      swapped = static_cast<T>(swapped << 8 | (value >> (8 * i) & 0xFF));
    }
    value = swapped;
  }
  return value;
}

void Put(char*& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) *out++ = static_cast<char>(value >> (8 * i) & 0xFF);
}

}  // namespace

std::optional<DosAttrib> DecodeDosAttrib(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  // Nearly every value is the common version 5 form: read it directly.
  if (size == kVersion5Size && std::memcmp(bytes, kVersion5Head, sizeof kVersion5Head) == 0) {
    const unsigned char* body = bytes + sizeof kVersion5Head;
    uint32_t flags = LittleEndian<uint32_t>(body);
    DosAttrib result;
    if (flags & kValidAttrib) result.attrib = LittleEndian<uint32_t>(body + 4);
    if (flags & kValidCreateTime) result.createTime = LittleEndian<uint64_t>(body + 8);
    return result;
  }
  // A text whose NUL is its last byte (or that has none) is the legacy form;
  // anything after the NUL makes it an NDR blob.
  const void* nul = size ? std::memchr(bytes, 0, size) : nullptr;
  bool legacy = !nul || static_cast<const unsigned char*>(nul) == bytes + size - 1;
  return legacy ? DecodeText(bytes, size) : DecodeNdr(bytes, size);
}

std::string EncodeDosAttrib(uint32_t attrib, uint64_t createTime) {
  char value[kVersion5Size];
  char* out = value;
  Put(out, 0, 1);                        // empty text and its NUL
  Put(out, 0, 1);                        // padding to an even offset
  Put(out, 5, 2);                        // version
  Put(out, 5, 2);                        // level
  Put(out, 0, 2);                        // padding to a multiple of 4
  Put(out, kValidAttrib | kValidCreateTime, 4);
  Put(out, attrib, 4);
  Put(out, createTime, 8);
  return std::string(value, sizeof value);
}

}  // namespace plat::posix
