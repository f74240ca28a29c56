// The user.DOSATTRIB codec: no bytes make the decoder read past its input,
// and what the encoder writes decodes to the same attributes and creation
// time, also after a value that some other writer left.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/dosattrib.h"

using plat::posix::DecodeDosAttrib;
using plat::posix::EncodeDosAttrib;

namespace {

void ExpectRoundTrip(uint32_t attrib, uint64_t createTime) {
  std::string encoded = EncodeDosAttrib(attrib, createTime);
  auto decoded = DecodeDosAttrib(encoded.data(), encoded.size());
  if (!decoded || decoded->attrib != attrib) std::abort();
  if (!decoded->createTime || *decoded->createTime != createTime) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The decoder gets a copy of exactly `size` bytes, so that ASan sees any
  // read past the value.
  auto* copy = new uint8_t[size ? size : 1];
  if (size) std::memcpy(copy, data, size);
  auto decoded = DecodeDosAttrib(copy, size);
  delete[] copy;
  if (decoded) ExpectRoundTrip(decoded->attrib, decoded->createTime.value_or(0));

  if (size >= 12) {
    uint32_t attrib;
    uint64_t createTime;
    std::memcpy(&attrib, data, 4);
    std::memcpy(&createTime, data + 4, 8);
    ExpectRoundTrip(attrib, createTime);
  }
  return 0;
}
