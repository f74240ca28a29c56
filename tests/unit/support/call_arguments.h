// The arguments of a dynamic call, one of each kind, for the tests that make
// calls through the platform's libraries or the call thunk. Includes no test
// framework, so that the thunk's own test program can use it on its own.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace support {

inline plat::CallArgument Int(uint32_t value) {
  plat::CallArgument argument;
  argument.int32 = value;
  return argument;
}

inline plat::CallArgument Pointer(const void* address) {
  plat::CallArgument argument;
  argument.kind = plat::CallArgument::Kind::kPointer;
  argument.pointer = static_cast<const char*>(address);
  return argument;
}

inline plat::CallArgument Double(double value) {
  plat::CallArgument argument;
  argument.kind = plat::CallArgument::Kind::kDouble;
  argument.real = value;
  return argument;
}

inline plat::CallArgument Float(float value) {
  plat::CallArgument argument;
  argument.kind = plat::CallArgument::Kind::kFloat;
  argument.real = value;
  return argument;
}

}  // namespace support
