// Type lists to type codes: the result is NIL or a text of known codes, never
// longer than a call can take.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "monitor/runtime/dll.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string list(reinterpret_cast<const char*>(data), size);
  rt::Value codes = rt::TOTYPES(list);
  if (codes.IsNil()) return 0;
  if (!codes.IsText() || codes.Text().size() > 255) std::abort();
  if (codes.Text().find_first_not_of("IWHULFDBXVS*") != std::string::npos) std::abort();
  return 0;
}
