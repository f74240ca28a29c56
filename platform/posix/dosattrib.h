// The codec of the user.DOSATTRIB extended attribute, in the format that the
// SMB servers of Linux file servers keep Windows attributes in: either a
// legacy text ("0x20", with or without a NUL) or an NDR blob (a text and its
// NUL, padding to even, uint16 version 1..5, uint16 level equal to it,
// padding to a multiple of 4, then the version's body, little-endian).
// Pure functions, so that they can be fuzzed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace plat::posix {

struct DosAttrib {
  uint32_t attrib = 0;
  std::optional<uint64_t> createTime;  // FILETIME, when the value records one
};

// The decoded value; nullopt when the bytes are no valid DOSATTRIB value.
std::optional<DosAttrib> DecodeDosAttrib(const void* data, size_t size);

// The version 5 value: empty text, valid flags 0x11 (attrib and create time).
std::string EncodeDosAttrib(uint32_t attrib, uint64_t createTime);

}  // namespace plat::posix
