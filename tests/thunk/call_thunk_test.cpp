// The dynamic call's thunk, through plat::win32::CallAddress, with one table
// of calls: built for Windows x64 or i686 and run under wine, and built for
// Linux i686 and run under qemu-i386, so that the i686 thunk runs even where
// the kernel runs no 32-bit code. A harness between CallAddress and the
// thunk fills the callee-saved registers with known values and checks them,
// and the stack pointer, after the thunk; each callee notes whether the
// stack was 16-byte aligned at its call. Prints one line a case; the exit
// code is 1 when any case fails.
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32/callthunk.h"
#include "tests/unit/support/call_arguments.h"

#if defined(__i386__)
#define QZ_CDECL __attribute__((cdecl))
#define QZ_STDCALL __attribute__((stdcall))
#else  // x64 has one convention
#define QZ_CDECL
#define QZ_STDCALL
#endif

using plat::CallArgument;
using support::Double;
using support::Float;
using support::Int;
using support::Pointer;

// The thunk as CallAddress calls it, between CallAddress and the real thunk:
// it calls qz_call_thunk with the same arguments and every callee-saved
// integer register set to a known value, and afterwards adds to thunkFaults
// bit 0 when the stack pointer differs, bit 1 when a register does.
using plat::win32::Registers;
using plat::win32::ThunkWord;
extern "C" void CheckedThunk(const ThunkWord* words, size_t count, uintptr_t entry,
                             Registers* out) __asm__("qz_checked_thunk");
extern "C" int thunkFaults __asm__("qz_thunk_faults");

#if defined(__i386__)
__asm__(R"(
  .data
  .globl qz_thunk_faults
qz_thunk_faults:
  .long 0
qz_saved_sp:
  .long 0
  .text
  .globl qz_checked_thunk
qz_checked_thunk:
  push %ebp
  push %ebx
  push %esi
  push %edi
  pushl 32(%esp)
  pushl 32(%esp)
  pushl 32(%esp)
  pushl 32(%esp)
  mov %esp, qz_saved_sp
  mov $0x5EB0E5A1, %ebx
  mov $0x5EB0E5A2, %esi
  mov $0x5EB0E5A3, %edi
  mov $0x5EB0E5A4, %ebp
  call qz_call_thunk
  xor $0x5EB0E5A1, %ebx
  xor $0x5EB0E5A2, %esi
  xor $0x5EB0E5A3, %edi
  xor $0x5EB0E5A4, %ebp
  or %esi, %ebx
  or %edi, %ebx
  or %ebp, %ebx
  xor %eax, %eax
  cmp qz_saved_sp, %esp
  setne %al
  xor %ecx, %ecx
  test %ebx, %ebx
  setne %cl
  lea (%eax,%ecx,2), %eax
  or %eax, qz_thunk_faults
  mov qz_saved_sp, %esp
  add $16, %esp
  pop %edi
  pop %esi
  pop %ebx
  pop %ebp
  ret
)");
#else
__asm__(R"(
  .data
  .globl qz_thunk_faults
qz_thunk_faults:
  .long 0
qz_saved_sp:
  .quad 0
  .text
  .globl qz_checked_thunk
qz_checked_thunk:
  push %rbx
  push %rbp
  push %rsi
  push %rdi
  push %r12
  push %r13
  push %r14
  push %r15
  sub $40, %rsp
  mov %rsp, qz_saved_sp(%rip)
  mov $-0x214F1A51, %rbx
  mov $-0x214F1A52, %rbp
  mov $-0x214F1A53, %rsi
  mov $-0x214F1A54, %rdi
  mov $-0x214F1A55, %r12
  mov $-0x214F1A56, %r13
  mov $-0x214F1A57, %r14
  mov $-0x214F1A58, %r15
  call qz_call_thunk
  xor $-0x214F1A51, %rbx
  xor $-0x214F1A52, %rbp
  xor $-0x214F1A53, %rsi
  xor $-0x214F1A54, %rdi
  xor $-0x214F1A55, %r12
  xor $-0x214F1A56, %r13
  xor $-0x214F1A57, %r14
  xor $-0x214F1A58, %r15
  or %rbp, %rbx
  or %rsi, %rbx
  or %rdi, %rbx
  or %r12, %rbx
  or %r13, %rbx
  or %r14, %rbx
  or %r15, %rbx
  xor %eax, %eax
  cmp qz_saved_sp(%rip), %rsp
  setne %al
  xor %ecx, %ecx
  test %rbx, %rbx
  setne %cl
  lea (%rax,%rcx,2), %eax
  or %eax, qz_thunk_faults(%rip)
  mov qz_saved_sp(%rip), %rsp
  add $40, %rsp
  pop %r15
  pop %r14
  pop %r13
  pop %r12
  pop %rdi
  pop %rsi
  pop %rbp
  pop %rbx
  ret
)");
#endif

namespace {

bool misaligned = false;

// Called from each callee: the compiler keeps the callee's stack aligned for
// this call only when the callee itself was called with an aligned stack.
__attribute__((noinline)) void NoteAlignment() {
  alignas(16) char probe[16];
  void* address = probe;
  __asm__ volatile("" : "+r"(address));  // the compiler may not assume the alignment
  if (reinterpret_cast<uintptr_t>(address) % 16 != 0) misaligned = true;
}

// The callees: each result tells the arguments and their order apart.
int QZ_CDECL Digits(int a, int b, int c) {
  NoteAlignment();
  return a * 100 + b * 10 + c;
}
int QZ_CDECL Seven() {
  NoteAlignment();
  return 7;
}
int QZ_STDCALL Mixed(int a, const char* b, double c, int d, float e, const char* f, int g) {
  NoteAlignment();
  return a * 1000000 + static_cast<int>(std::strlen(b)) * 100000 + static_cast<int>(c * 10000) +
         d * 1000 + static_cast<int>(e * 200) + static_cast<int>(std::strlen(f)) * 10 + g;
}
int QZ_STDCALL IsMinusTwo(intptr_t handle) {
  NoteAlignment();
  return handle == -2;
}
uintptr_t QZ_CDECL HighBitsAndTwoFiftySix() {
  NoteAlignment();
  return static_cast<uintptr_t>(~0ull << 32 | 256);  // i686 keeps the 256 alone
}
const char* QZ_STDCALL Skip(const char* text, int count) {
  NoteAlignment();
  return text + count;
}
double QZ_CDECL Blend(double a, int b, double c) {
  NoteAlignment();
  return a * 1000 + b * 10 + c;
}
double QZ_STDCALL Weigh(double a, double b, double c, double d, double e, double f) {
  NoteAlignment();
  return a + 2 * b + 4 * c + 8 * d + 16 * e + 32 * f;
}
float QZ_CDECL Half(float x) {
  NoteAlignment();
  return x / 2;
}

const char kAlphabet[] = "abcdefghij";

struct Case {
  const char* name;
  const void* function;
  std::vector<CallArgument> pushed;  // last argument first
  char result;
  uintptr_t integer;
  double real;
};

// One table for every mode: integer, pointer, float and double arguments,
// in registers and on the stack, with cdecl and stdcall callees.
const Case kCases[] = {
    {"cdecl int(int, int, int)", reinterpret_cast<const void*>(&Digits),
     {Int(3), Int(2), Int(1)}, 'I', 123, 0},
    {"cdecl int()", reinterpret_cast<const void*>(&Seven), {}, 'I', 7, 0},
    {"stdcall int(int, char*, double, int, float, char*, int)",
     reinterpret_cast<const void*>(&Mixed),
     {Int(7), Pointer("abcdef"), Float(2.5f), Int(4), Double(3), Pointer("ab"), Int(1)},
     'L', 1234567, 0},
    {"stdcall int(handle -2)", reinterpret_cast<const void*>(&IsMinusTwo), {Int(-2)}, 'B', 1, 0},
    {"cdecl BOOL 256 with the upper half set",
     reinterpret_cast<const void*>(&HighBitsAndTwoFiftySix), {}, 'B', 256, 0},
    {"stdcall char*(char*, int)", reinterpret_cast<const void*>(&Skip),
     {Int(4), Pointer(kAlphabet)}, 'S', reinterpret_cast<uintptr_t>(kAlphabet + 4), 0},
    {"cdecl double(double, int, double)", reinterpret_cast<const void*>(&Blend),
     {Double(0.25), Int(-2), Double(1.5)}, 'D', 0, 1480.25},
    {"stdcall double(6 doubles)", reinterpret_cast<const void*>(&Weigh),
     {Double(6), Double(5), Double(4), Double(3), Double(2), Double(1)}, 'D', 0,
     1 + 2 * 2 + 4 * 3 + 8 * 4 + 16 * 5 + 32 * 6},
    {"cdecl float(float)", reinterpret_cast<const void*>(&Half), {Float(2.5f)}, 'F', 0, 1.25},
};

}  // namespace

int main() {
  int failures = 0;
  for (const Case& call : kCases) {
    misaligned = false;
    thunkFaults = 0;
    plat::CallResult returned = plat::win32::CallAddress(
        reinterpret_cast<uintptr_t>(call.function), call.pushed, call.result, &CheckedThunk);
    std::string faults;
    if (returned.integer != call.integer || returned.real != call.real) {
      char text[96];
      std::snprintf(text, sizeof text, " result %#llx %g (want %#llx %g);",
                    static_cast<unsigned long long>(returned.integer), returned.real,
                    static_cast<unsigned long long>(call.integer), call.real);
      faults += text;
    }
    if (thunkFaults & 1) faults += " the stack pointer moved;";
    if (thunkFaults & 2) faults += " a callee-saved register changed;";
    if (misaligned) faults += " the stack was not 16-byte aligned at the call;";
    std::printf("%s %s%s\n", faults.empty() ? "ok:  " : "FAIL:", call.name, faults.c_str());
    failures += !faults.empty();
  }
  std::printf("%d of %zu cases failed\n", failures, std::size(kCases));
  return failures ? 1 : 0;
}
