// Text to number and back: VAL of any text is a number whose width and
// decimals STR can show, in a field of exactly the size they give.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "monitor/runtime/convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  rt::Value number = rt::VAL(text);
  if (!number.IsNumber()) std::abort();
  const rt::Number& n = number.AsNumber();
  if (n.width < 1 || n.width > 99 || n.decimals < 0) std::abort();
  std::string shown = rt::STR(number).Text();
  size_t width = n.width < 90 ? n.width : 90;  // STR shows at most 90 places before the point
  size_t field = n.decimals == 0 ? width : width + n.decimals + 1;
  if (shown.size() != field) std::abort();
  return 0;
}
