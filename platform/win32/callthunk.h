// The dynamic call: a function called by its address, with arguments and a
// result type known only at run time, by the calling convention of the
// processor the program is built for. i686 pushes every argument as 32-bit
// stack words; x64 passes the first four in registers. This code includes no
// system header, so that a Linux i686 test program runs the very same thunk
// under qemu-user, whatever the kernel allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace plat::win32 {

// What the called function left behind: the floating register, read as a
// double and as a float (st(0) on i686, xmm0 on x64), and the integer
// register (eax, rax). The thunks write it at fixed offsets.
struct Registers {
  double real = 0;
  float single = 0;
  uintptr_t integer = 0;
};

#if defined(__i386__) || defined(_M_IX86)
using ThunkWord = uint32_t;  // a stack word; the words are pushed first to last
#else
using ThunkWord = uint64_t;  // an argument slot; the slots are in the callee's order
#endif

// The thunk of this build: calls `entry` with `count` words and fills `out`.
// The stack pointer is restored after the call, whoever removes the
// arguments, so the C, standard and Pascal conventions all work.
extern "C" void CallThunk(const ThunkWord* words, size_t count, uintptr_t entry, Registers* out)
#if defined(__GNUC__)
    __asm__("qz_call_thunk")
#endif
    ;

// Calls the function at `entry` through `thunk` with `pushed`, the arguments
// in the order they are pushed: the function's first parameter is the last
// one, under every convention (a Pascal caller has already reversed the
// list), so the conventions reach the same parameters on i686 and x64.
// `result` is the result's type code: 'D' and 'F' come back in `real`, 'S'
// as the whole address in `integer`, 'V' as nothing, every other code as the
// 32 bits of the integer register (as an i686 caller sees them).
CallResult CallAddress(uintptr_t entry, const std::vector<CallArgument>& pushed, char result,
                       decltype(&CallThunk) thunk = &CallThunk);

}  // namespace plat::win32
