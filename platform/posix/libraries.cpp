#include <dlfcn.h>
#include <ffi.h>
#include <strings.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/addresstable.h"
#include "platform/platform.h"
#include "platform/posix/error.h"
#include "platform/posix/facets.h"
#include "platform/posix/paths.h"

namespace plat::posix {

namespace {

// The arguments of a call in C order (the reverse of the push order), as the
// built-in entry points read them; one not pushed reads as 0.
class CArguments {
 public:
  explicit CArguments(const std::vector<CallArgument>& pushed) : pushed_(pushed) {}
  uint32_t Integer(size_t i) const {
    return i < pushed_.size() ? pushed_[pushed_.size() - 1 - i].int32 : 0;
  }
  const char* Text(size_t i) const {
    const char* text = i < pushed_.size() ? pushed_[pushed_.size() - 1 - i].pointer : nullptr;
    return text ? text : "";
  }

 private:
  const std::vector<CallArgument>& pushed_;
};

// KERNEL32.DLL's entry points that programs bind at run time, working on
// this layer, with Windows' signatures and results. They are called
// directly, without preparing a foreign call; each one's address stands for
// it in the entry table.
using Builtin = uint32_t (*)(const CArguments& arguments);

uint32_t BuiltinSetFileAttributesA(const CArguments& in) {  // (path, attributes)
  return NativeFileSystem().SetAttributes(in.Text(0), in.Integer(1)) ? 1 : 0;
}

uint32_t BuiltinGetFileAttributesA(const CArguments& in) {  // (path)
  return NativeFileSystem().GetAttributes(in.Text(0));
}

uint32_t BuiltinGetLastError(const CArguments&) { return LastError(); }

struct BuiltinEntry {
  const char* name;
  Builtin call;
  void* address() const { return reinterpret_cast<void*>(call); }
};

const BuiltinEntry kKernel32[] = {
    {"SetFileAttributesA", &BuiltinSetFileAttributesA},
    {"GetFileAttributesA", &BuiltinGetFileAttributesA},
    {"GetLastError", &BuiltinGetLastError},
};

// One argument's value as the call reads it.
union Slot {
  int32_t integer;
  const char* pointer;
  double real;
  float single;
};

char KindCode(CallArgument::Kind kind) {
  switch (kind) {
    case CallArgument::Kind::kInt32: return 'I';
    case CallArgument::Kind::kPointer: return 'P';
    case CallArgument::Kind::kDouble: return 'D';
    case CallArgument::Kind::kFloat: return 'F';
  }
  return 'I';
}

ffi_type* FfiType(char code) {
  switch (code) {
    case 'V': return &ffi_type_void;
    case 'D': return &ffi_type_double;
    case 'F': return &ffi_type_float;
    case 'S':
    case 'P': return &ffi_type_pointer;
    default: return &ffi_type_sint32;
  }
}

// The call interface of a signature (the result's type code, then the kind
// of each argument in C order), prepared once per thread: preparing it for
// every call cost as much as a small entry point's whole call. Null when it
// cannot be prepared.
ffi_cif* PreparedCall(const std::string& signature) {
  struct Prepared {
    std::string signature;
    std::vector<ffi_type*> types;  // the interface points into it
    ffi_cif cif;
  };
  constexpr size_t kMostSignatures = 64;
  thread_local std::vector<std::unique_ptr<Prepared>> prepared;
  for (const std::unique_ptr<Prepared>& known : prepared) {
    if (known->signature == signature) return &known->cif;
  }
  if (prepared.size() == kMostSignatures) prepared.clear();
  auto made = std::make_unique<Prepared>();
  made->signature = signature;
  for (size_t i = 1; i < signature.size(); ++i) made->types.push_back(FfiType(signature[i]));
  if (ffi_prep_cif(&made->cif, FFI_DEFAULT_ABI, static_cast<unsigned>(made->types.size()),
                   FfiType(signature[0]), made->types.data()) != FFI_OK) {
    return nullptr;
  }
  prepared.push_back(std::move(made));
  return &prepared.back()->cif;
}

// The built-in library's handle; the table numbers the others from 2.
constexpr uint32_t kKernel32Handle = 1;

bool IsKernel32(const std::string& name) {
  std::string base = LastPart(name);
  return strcasecmp(base.c_str(), "kernel32") == 0 || strcasecmp(base.c_str(), "kernel32.dll") == 0;
}

// Shared objects are looked up by dlopen; Windows paths are translated first.
std::string HostLibraryName(const std::string& name) {
  return name.find_first_of("\\:") != std::string::npos ? ToHostPath(name) : name;
}

class PosixLibraries : public Libraries {
 public:
  uint32_t Load(const std::string& name) override {
    if (IsKernel32(name)) return kKernel32Handle;
    void* handle = dlopen(HostLibraryName(name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return FailLoad();
    std::lock_guard<std::mutex> hold(lock_);
    uint32_t id = libraries_.Number(handle);
    ++loads_[id];
    return id;
  }

  uint32_t Loaded(const std::string& name) override {
    if (IsKernel32(name)) return kKernel32Handle;
    void* handle = dlopen(HostLibraryName(name).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return FailLoad();
    dlclose(handle);  // undo the reference that RTLD_NOLOAD took
    std::lock_guard<std::mutex> hold(lock_);
    return libraries_.Number(handle);
  }

  uint32_t EntryPoint(uint32_t library, const std::string& name) override {
    void* address = nullptr;
    if (library == kKernel32Handle) {
      for (const BuiltinEntry& entry : kKernel32) {
        if (name == entry.name) address = entry.address();
      }
    } else {
      std::lock_guard<std::mutex> hold(lock_);
      void* handle = Library(library);
      if (!handle) return FailEntry(kErrorInvalidHandle);
      address = dlsym(handle, name.c_str());
    }
    if (!address) return FailEntry(kErrorProcNotFound);
    std::lock_guard<std::mutex> hold(lock_);
    return entries_.Number(address);
  }

  uint32_t EntryPointByOrdinal(uint32_t library, uint16_t ordinal) override {
    return FailEntry(kErrorProcNotFound);  // shared objects export names only
  }

  bool Free(uint32_t library) override {
    if (library == kKernel32Handle) return true;
    std::lock_guard<std::mutex> hold(lock_);
    void* handle = Library(library);
    if (!handle) return Fail(kErrorInvalidHandle);
    if (loads_[library] > 0) {
      --loads_[library];
      dlclose(handle);
    }
    return true;
  }

  // The arguments are pushed last first for C and standard calls and first
  // first for Pascal calls; either way the C view of the list is the reverse
  // of the push order.
  bool Call(uint32_t entry, char convention, const std::vector<CallArgument>& pushed, char result,
            CallResult& returned) override {
    const void* address = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock_);
      address = entries_.Address(entry);
      if (!address) return Fail(kErrorProcNotFound);
    }
    for (const BuiltinEntry& builtin : kKernel32) {
      if (builtin.address() == address) {
        // Each gives a 32-bit number; a result read as anything else is none.
        uint32_t value = builtin.call(CArguments(pushed));
        returned = {};
        if (std::strchr("VDFS", result) == nullptr) returned.integer = value;
        return true;
      }
    }
    size_t count = pushed.size();
    std::string signature(1, result);
    for (size_t i = 0; i < count; ++i) signature += KindCode(pushed[count - 1 - i].kind);
    ffi_cif* cif = PreparedCall(signature);
    if (!cif) return Fail(kErrorInvalidParameter);
    // The arguments' values in C order; a few on the stack, as nearly every call has.
    constexpr size_t kInline = 8;
    Slot inlineSlots[kInline];
    void* inlineValues[kInline];
    std::vector<Slot> moreSlots(count > kInline ? count : 0);
    std::vector<void*> moreValues(moreSlots.size());
    Slot* slots = count > kInline ? moreSlots.data() : inlineSlots;
    void** values = count > kInline ? moreValues.data() : inlineValues;
    for (size_t i = 0; i < count; ++i) {
      const CallArgument& argument = pushed[count - 1 - i];
      switch (argument.kind) {
        case CallArgument::Kind::kInt32: slots[i].integer = static_cast<int32_t>(argument.int32); break;
        case CallArgument::Kind::kPointer: slots[i].pointer = argument.pointer; break;
        case CallArgument::Kind::kDouble: slots[i].real = argument.real; break;
        case CallArgument::Kind::kFloat: slots[i].single = static_cast<float>(argument.real); break;
      }
      values[i] = &slots[i];
    }
    // Large enough and aligned for every result type; small integers widen to ffi_arg.
    union {
      ffi_arg integer;
      void* pointer;
      double real;
      float single;
    } value = {};
    ffi_call(cif, FFI_FN(const_cast<void*>(address)), &value, values);
    returned = {};
    switch (result) {
      case 'V': break;
      case 'D': returned.real = value.real; break;
      case 'F': returned.real = value.single; break;
      case 'S': returned.integer = reinterpret_cast<uintptr_t>(value.pointer); break;
      // The 32 bits of the integer register, as an i686 caller sees them.
      default: returned.integer = static_cast<uint32_t>(static_cast<int32_t>(value.integer)); break;
    }
    return true;
  }

 private:
  static uint32_t FailLoad() {
    SetLastError(kErrorModNotFound);
    return 0;
  }
  static uint32_t FailEntry(uint32_t error) {
    SetLastError(error);
    return 0;
  }

  // The handle of a library number, or null.
  void* Library(uint32_t library) const { return const_cast<void*>(libraries_.Address(library)); }

  std::mutex lock_;
  AddressTable libraries_{2};
  std::map<uint32_t, int> loads_;  // the Load calls of each library that Free has not undone
  AddressTable entries_{1};
};

}  // namespace

Libraries& NativeLibraries() {
  static PosixLibraries libraries;
  return libraries;
}

}  // namespace plat::posix
