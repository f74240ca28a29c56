// The library facet of the stand-in application's x86_64 Windows build. The
// platform's Win32 calls into libraries push 32-bit stack words and build for
// i686 only, as the products do; the stand-in never calls into a library and
// loads one only to hold it open while it runs, which this build leaves out.
// It runs where the i686 build cannot: under 64-bit wine, on a machine or in
// a container without 32-bit wine.
#include "platform/win32/win32.h"

namespace plat::win32 {

uint32_t Modules::Load(const std::string& name) { return 0; }
uint32_t Modules::Loaded(const std::string& name) { return 0; }
uint32_t Modules::EntryPoint(uint32_t library, const std::string& name) { return 0; }
uint32_t Modules::EntryPointByOrdinal(uint32_t library, uint16_t ordinal) { return 0; }
bool Modules::Free(uint32_t library) { return false; }
bool Modules::Call(uint32_t entry, char convention, const std::vector<CallArgument>& pushed,
                   char result, CallResult& returned) {
  return false;
}

}  // namespace plat::win32
