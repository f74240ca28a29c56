// The dynamic call's two thunks, chosen at build time, and what each is
// handed: 32-bit stack words on i686, 8-byte argument slots on x64. GCC
// builds both from the assembly below; MSVC builds the i686 one from its
// inline assembly.
#include "platform/win32/callthunk.h"

#include <cstddef>
#include <cstring>

namespace plat::win32 {

static_assert(offsetof(Registers, single) == 8);
static_assert(offsetof(Registers, integer) == (sizeof(void*) == 4 ? 12 : 16));

namespace {

// A float's and a double's bits, as the callee reads them from a stack word,
// a slot or a register.
uint32_t FloatBits(double value) {
  float single = static_cast<float>(value);
  uint32_t bits;
  std::memcpy(&bits, &single, sizeof bits);
  return bits;
}

uint64_t DoubleBits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

}  // namespace

#if defined(__i386__) || defined(_M_IX86)

// Pushes words[0] first and words[count - 1] last, calls `entry`, and then
// restores the stack pointer from a callee-saved register. The C convention
// (the caller removes the arguments) and the standard and Pascal conventions
// (the callee removes them) therefore all leave the stack as it was. The stack
// is 16-byte aligned at the call. st(0) is popped when the callee left a value
// there, so a result declared with the wrong type never fills the x87 stack.
#if defined(_MSC_VER)

// Never inlined: the block moves esp and uses ebx, which an enclosing function
// may need.
extern "C" __declspec(noinline) void __cdecl CallThunk(const ThunkWord* words, size_t count,
                                                       uintptr_t entry, Registers* out) {
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
    mov [ecx + 12], eax
    fxam
    fnstsw ax
    and ax, 0x4500
    cmp ax, 0x4100
    je done
    fst dword ptr [ecx + 8]
    fstp qword ptr [ecx]
  done:
  }
}

#elif defined(__GNUC__)

// cdecl: the arguments lie at 8(%ebp) onwards once the frame is made.
__asm__(R"(
  .text
  .globl qz_call_thunk
qz_call_thunk:
  push %ebp
  mov %esp, %ebp
  push %ebx
  push %esi
  push %edi
  mov %esp, %ebx              # the saved stack pointer
  mov 8(%ebp), %esi           # words
  mov 12(%ebp), %ecx          # count
  lea 0(,%ecx,4), %eax
  mov %esp, %edx
  sub %eax, %edx
  and $-16, %edx
  add %eax, %edx
  mov %edx, %esp
  xor %edi, %edi
1:
  cmp %ecx, %edi
  jae 2f
  pushl (%esi,%edi,4)
  inc %edi
  jmp 1b
2:
  call *16(%ebp)              # entry
  mov %ebx, %esp
  mov 20(%ebp), %ecx          # out
  mov %eax, 12(%ecx)
  fxam
  fnstsw %ax
  and $0x4500, %ax
  cmp $0x4100, %ax            # C3 and C0 alone: st(0) is empty
  je 3f
  fsts 8(%ecx)
  fstpl (%ecx)
3:
  pop %edi
  pop %esi
  pop %ebx
  pop %ebp
  ret
)");

#else
#error "The dynamic call needs an i686 thunk for this compiler"
#endif

namespace {

// The arguments as stack words in the order they are pushed. A double is
// pushed high word first, so that it lies in memory as a double does.
std::vector<ThunkWord> ThunkWords(const std::vector<CallArgument>& pushed) {
  std::vector<ThunkWord> words;
  words.reserve(pushed.size() * 2);
  for (const CallArgument& argument : pushed) {
    switch (argument.kind) {
      case CallArgument::Kind::kInt32:
        words.push_back(argument.int32);
        break;
      case CallArgument::Kind::kPointer:
        words.push_back(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(argument.pointer)));
        break;
      case CallArgument::Kind::kFloat:
        words.push_back(FloatBits(argument.real));
        break;
      case CallArgument::Kind::kDouble: {
        uint64_t bits = DoubleBits(argument.real);
        words.push_back(static_cast<uint32_t>(bits >> 32));
        words.push_back(static_cast<uint32_t>(bits));
        break;
      }
    }
  }
  return words;
}

}  // namespace

#elif defined(__x86_64__) || defined(_M_X64)

// Copies the slots to the stack, slot i at 8 * i bytes above the stack
// pointer, and loads the first four into both their integer and their
// floating register (RCX, RDX, R8, R9 and XMM0 to XMM3): a function takes a
// parameter from the one its type names, and a variadic one takes a double
// from both. The first four slots are thus the 32 bytes of shadow space that
// the callee may use, and the rest its stack arguments. The stack is 16-byte
// aligned at the call and restored from the frame pointer after it. The
// unwind information describes the frame, so that a fault in the callee can
// be unwound through the thunk.
#if defined(_MSC_VER)
// MSVC has no inline assembly on x64: its build would need this thunk as a
// MASM file of its own.
#error "The x64 thunk is GNU assembly: an MSVC build for x64 needs it as a MASM file"
#elif defined(__GNUC__)

__asm__(R"(
  .text
  .globl qz_call_thunk
  .def qz_call_thunk; .scl 2; .type 32; .endef
  .seh_proc qz_call_thunk
qz_call_thunk:
  push %rbp
  .seh_pushreg %rbp
  push %rbx
  .seh_pushreg %rbx
  mov %rsp, %rbp
  .seh_setframe %rbp, 0
  .seh_endprologue
  mov %r9, %rbx               # out, kept across the call
  mov %r8, %r10               # entry
  mov %rdx, %rax              # room for the slots, at least the four of the shadow space
  cmp $4, %rax
  jae 1f
  mov $4, %eax
1:
  shl $3, %rax
  sub %rax, %rsp
  and $-16, %rsp
  xor %eax, %eax
2:
  cmp %rdx, %rax
  jae 3f
  mov (%rcx,%rax,8), %r11
  mov %r11, (%rsp,%rax,8)
  inc %rax
  jmp 2b
3:
  mov (%rsp), %rcx
  mov 8(%rsp), %rdx
  mov 16(%rsp), %r8
  mov 24(%rsp), %r9
  movq %rcx, %xmm0
  movq %rdx, %xmm1
  movq %r8, %xmm2
  movq %r9, %xmm3
  call *%r10
  mov %rax, 16(%rbx)
  movsd %xmm0, (%rbx)
  movss %xmm0, 8(%rbx)
  lea (%rbp), %rsp
  pop %rbx
  pop %rbp
  ret
  .seh_endproc
)");

#else
#error "The dynamic call needs an x64 thunk for this compiler"
#endif

namespace {

// The arguments in the order of the function's parameters (the reverse of
// the push order), one 8-byte slot each. A 32-bit integer is sign-extended:
// a function reads only the low half of an integer parameter, and a handle
// parameter (a window, a GDI object) takes all 64 bits, which Windows gives
// as the sign-extended 32-bit value. A float fills the low half of its slot.
std::vector<ThunkWord> ThunkWords(const std::vector<CallArgument>& pushed) {
  std::vector<ThunkWord> slots;
  slots.reserve(pushed.size());
  for (auto argument = pushed.rbegin(); argument != pushed.rend(); ++argument) {
    switch (argument->kind) {
      case CallArgument::Kind::kInt32:
        slots.push_back(static_cast<uint64_t>(static_cast<int32_t>(argument->int32)));
        break;
      case CallArgument::Kind::kPointer:
        slots.push_back(reinterpret_cast<uintptr_t>(argument->pointer));
        break;
      case CallArgument::Kind::kFloat:
        slots.push_back(FloatBits(argument->real));
        break;
      case CallArgument::Kind::kDouble:
        slots.push_back(DoubleBits(argument->real));
        break;
    }
  }
  return slots;
}

}  // namespace

#else
#error "The dynamic call has thunks for i686 and x64 only"
#endif

CallResult CallAddress(uintptr_t entry, const std::vector<CallArgument>& pushed, char result,
                       decltype(&CallThunk) thunk) {
  std::vector<ThunkWord> words = ThunkWords(pushed);
  Registers registers;
  thunk(words.data(), words.size(), entry, &registers);
  CallResult returned;
  switch (result) {
    case 'V': break;
    case 'D': returned.real = registers.real; break;
    case 'F': returned.real = registers.single; break;
    case 'S': returned.integer = registers.integer; break;
    default: returned.integer = static_cast<uint32_t>(registers.integer); break;
  }
  return returned;
}

}  // namespace plat::win32
