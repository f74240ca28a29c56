// Dynamic libraries, and calls into them through the thunk of callthunk.cpp.
#include <windows.h>

#include <mutex>

#include "platform/addresstable.h"
#include "platform/win32/callthunk.h"
#include "platform/win32/win32.h"

namespace plat::win32 {

namespace {

#if defined(_WIN64)
// Module handles and entry points do not fit the 32-bit numbers that stand
// for them: each gets the number of its place in a table, and a null handle
// stays 0.
class Numbers {
 public:
  uint32_t Of(const void* address) {
    std::lock_guard<std::mutex> hold(lock_);
    return address ? table_.Number(address) : 0;
  }
  const void* Address(uint32_t number) {
    std::lock_guard<std::mutex> hold(lock_);
    return table_.Address(number);
  }

 private:
  std::mutex lock_;
  AddressTable table_{1};
};
#else
// On i686 the number is the handle or address itself.
class Numbers {
 public:
  uint32_t Of(const void* address) { return ToNumber(address); }
  const void* Address(uint32_t number) { return ToHandle<const void*>(number); }
};
#endif

Numbers& ModuleNumbers() {
  static Numbers numbers;
  return numbers;
}

Numbers& EntryNumbers() {
  static Numbers numbers;
  return numbers;
}

HMODULE ModuleOf(uint32_t library) {
  return static_cast<HMODULE>(const_cast<void*>(ModuleNumbers().Address(library)));
}

uint32_t EntryNumber(FARPROC entry) {
  return EntryNumbers().Of(reinterpret_cast<const void*>(entry));
}

// True when the address lies in a module of this process: calling anything
// else would jump into the void.
bool InLoadedModule(const void* address) {
  HMODULE module;
  return address != nullptr &&
         ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(address), &module);
}

}  // namespace

uint32_t Modules::Load(const std::string& name) {
  return ModuleNumbers().Of(::LoadLibraryA(name.c_str()));
}

uint32_t Modules::Loaded(const std::string& name) {
  return ModuleNumbers().Of(::GetModuleHandleA(name.c_str()));
}

uint32_t Modules::EntryPoint(uint32_t library, const std::string& name) {
  return EntryNumber(::GetProcAddress(ModuleOf(library), name.c_str()));
}

uint32_t Modules::EntryPointByOrdinal(uint32_t library, uint16_t ordinal) {
  return EntryNumber(::GetProcAddress(ModuleOf(library), MAKEINTRESOURCEA(ordinal)));
}

bool Modules::Free(uint32_t library) { return ::FreeLibrary(ModuleOf(library)); }

bool Modules::Call(uint32_t entry, char convention, const std::vector<CallArgument>& pushed,
                   char result, CallResult& returned) {
  // The thunk restores the stack pointer itself, so the convention needs no
  // handling here: whoever removes the arguments, the stack ends up the same.
  const void* address = EntryNumbers().Address(entry);
  if (!InLoadedModule(address)) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  returned = CallAddress(reinterpret_cast<uintptr_t>(address), pushed, result);
  return true;
}

}  // namespace plat::win32
