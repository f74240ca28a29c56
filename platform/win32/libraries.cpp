// Dynamic libraries and calls into them through a small i686 thunk.
#include <windows.h>

#include <cstring>

#include "platform/win32/win32.h"

#if !defined(_M_IX86) && !defined(__i386__)
#error "Libraries::Call pushes 32-bit stack words: the Windows build is for i686 only"
#endif

namespace plat::win32 {

// What the called function left behind: the integer registers and, when it
// returned a floating value, st(0).
struct Registers {
  uint32_t eax = 0;
  uint32_t edx = 0;
  double st0 = 0;
};

// Pushes words[0] first and words[count - 1] last, calls `entry`, and then
// restores the stack pointer from a callee-saved register. The C convention
// (the caller removes the arguments) and the standard and Pascal conventions
// (the callee removes them) therefore all leave the stack as it was. The stack
// is 16-byte aligned at the call. st(0) is popped when the callee left a value
// there, so a result declared with the wrong type never fills the x87 stack.
#if defined(_MSC_VER)

// Never inlined: the block moves esp and uses ebx, which an enclosing function
// may need.
__declspec(noinline) void __cdecl CallWords(const uint32_t* words, uint32_t count, uint32_t entry,
                                            Registers* out) {
  __asm {
    mov ebx, esp
    mov esi, words
    mov ecx, count
    lea eax, [ecx * 4]
    mov edx, esp
    sub edx, eax
    and edx, -16
    add edx, eax
    mov esp, edx
    xor edi, edi
  push_next:
    cmp edi, ecx
    jae call_entry
    push dword ptr [esi + edi * 4]
    inc edi
    jmp push_next
  call_entry:
    call entry
    mov esp, ebx
    mov ecx, out
    mov [ecx], eax
    mov [ecx + 4], edx
    fxam
    fnstsw ax
    and ax, 0x4500
    cmp ax, 0x4100
    je done
    fstp qword ptr [ecx + 8]
  done:
  }
}

#elif defined(__GNUC__)

// Naked: the body below is the whole function, arguments at 8(%ebp) onwards.
// External linkage and cdecl, because GCC may pass the arguments of a local
// i686 function in registers.
__attribute__((naked, noinline, cdecl)) void CallWords(const uint32_t* words, uint32_t count,
                                                      uint32_t entry, Registers* out) {
  asm("push %ebp\n\t"
      "mov %esp, %ebp\n\t"
      "push %ebx\n\t"
      "push %esi\n\t"
      "push %edi\n\t"
      "mov %esp, %ebx\n\t"           // the saved stack pointer
      "mov 8(%ebp), %esi\n\t"        // words
      "mov 12(%ebp), %ecx\n\t"       // count
      "lea 0(,%ecx,4), %eax\n\t"
      "mov %esp, %edx\n\t"
      "sub %eax, %edx\n\t"
      "and $-16, %edx\n\t"
      "add %eax, %edx\n\t"
      "mov %edx, %esp\n\t"
      "xor %edi, %edi\n"
      "1:\n\t"
      "cmp %ecx, %edi\n\t"
      "jae 2f\n\t"
      "pushl (%esi,%edi,4)\n\t"
      "inc %edi\n\t"
      "jmp 1b\n"
      "2:\n\t"
      "call *16(%ebp)\n\t"           // entry
      "mov %ebx, %esp\n\t"
      "mov 20(%ebp), %ecx\n\t"       // out
      "mov %eax, (%ecx)\n\t"
      "mov %edx, 4(%ecx)\n\t"
      "fxam\n\t"
      "fnstsw %ax\n\t"
      "and $0x4500, %ax\n\t"
      "cmp $0x4100, %ax\n\t"         // C3 and C0 alone: st(0) is empty
      "je 3f\n\t"
      "fstpl 8(%ecx)\n"
      "3:\n\t"
      "pop %edi\n\t"
      "pop %esi\n\t"
      "pop %ebx\n\t"
      "pop %ebp\n\t"
      "ret");
}

#else
#error "Libraries::Call needs an i686 thunk for this compiler"
#endif

namespace {

// The arguments as stack words in the order they are pushed. A double is
// pushed high word first, so that it lies in memory as a double does.
std::vector<uint32_t> StackWords(const std::vector<CallArgument>& pushed) {
  std::vector<uint32_t> words;
  words.reserve(pushed.size() * 2);
  for (const CallArgument& argument : pushed) {
    switch (argument.kind) {
      case CallArgument::Kind::kInt32:
        words.push_back(argument.int32);
        break;
      case CallArgument::Kind::kPointer:
        words.push_back(ToNumber(argument.pointer));
        break;
      case CallArgument::Kind::kFloat: {
        float single = static_cast<float>(argument.real);
        uint32_t bits;
        std::memcpy(&bits, &single, sizeof bits);
        words.push_back(bits);
        break;
      }
      case CallArgument::Kind::kDouble: {
        uint64_t bits;
        std::memcpy(&bits, &argument.real, sizeof bits);
        words.push_back(static_cast<uint32_t>(bits >> 32));
        words.push_back(static_cast<uint32_t>(bits));
        break;
      }
    }
  }
  return words;
}

// True when the address lies in a module of this process: calling anything
// else would jump into the void.
bool InLoadedModule(uint32_t address) {
  HMODULE module;
  return address != 0 &&
         ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              ToHandle<LPCSTR>(address), &module);
}

}  // namespace

uint32_t Modules::Load(const std::string& name) { return ToNumber(::LoadLibraryA(name.c_str())); }

uint32_t Modules::Loaded(const std::string& name) {
  return ToNumber(::GetModuleHandleA(name.c_str()));
}

uint32_t Modules::EntryPoint(uint32_t library, const std::string& name) {
  return ToNumber(::GetProcAddress(ToHandle<HMODULE>(library), name.c_str()));
}

uint32_t Modules::EntryPointByOrdinal(uint32_t library, uint16_t ordinal) {
  return ToNumber(::GetProcAddress(ToHandle<HMODULE>(library), MAKEINTRESOURCEA(ordinal)));
}

bool Modules::Free(uint32_t library) { return ::FreeLibrary(ToHandle<HMODULE>(library)); }

bool Modules::Call(uint32_t entry, char convention, const std::vector<CallArgument>& pushed,
                   char result, CallResult& returned) {
  // The thunk restores the stack pointer itself, so the convention needs no
  // handling here: whoever removes the arguments, the stack ends up the same.
  if (!InLoadedModule(entry)) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  std::vector<uint32_t> words = StackWords(pushed);
  Registers registers;
  CallWords(words.data(), static_cast<uint32_t>(words.size()), entry, &registers);
  returned = CallResult{};
  if (result == 'D' || result == 'F') {
    returned.real = registers.st0;
  } else if (result != 'V') {
    returned.integer = registers.eax;
  }
  return true;
}

}  // namespace plat::win32
