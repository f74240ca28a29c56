// Calls into dynamic libraries bound at run time.
//
// GETPROCADDRESS binds an entry point under a calling convention and type
// lists given as text; the result, a "bound function", is a text of the four
// address bytes (least significant first), the convention letter ("C", "S"
// or "P"), the result's type code and one type code per argument. CALLDLL
// calls it:
//
//   rt::Value kernel = rt::LOADLIBRARY("KERNEL32.DLL");
//   rt::Value setAttributes =
//       rt::GETPROCADDRESS(kernel, "SetFileAttributesA", rt::NIL, "BOOL", "LPCSTR,DWORD");
//   rt::CALLDLL(setAttributes, {path, 32});  // SetFileAttributesA(path, 32)
#pragma once

#include <initializer_list>

#include "monitor/runtime/state.h"
#include "monitor/runtime/value.h"

namespace rt {

// The library's handle as a number; 0 when it cannot be loaded.
Value LOADLIBRARY(const Value& name, Here caller = Here::current());

// Releases a library loaded by LOADLIBRARY.
void FREELIBRARY(const Value& handle, Here caller = Here::current());

// Binds `name` (an exported name of at most 127 characters, or an ordinal
// number) of `library` (a handle, or NIL to search the system libraries).
// `convention`: "C", or a leading part of "STANDARD" (also NIL or empty) or
// of "PASCAL", in any letter case. The result type and argument types are
// type lists (see TOTYPES); NIL or empty is "void". NIL when the convention
// or a type is not known or the entry point is not found.
Value GETPROCADDRESS(const Value& library, const Value& name, const Value& convention = NIL,
                     const Value& resultType = NIL, const Value& argumentTypes = NIL,
                     Here caller = Here::current());

// The type codes of a comma-separated type list: each item, without spaces
// and in any letter case, is a leading part of a type keyword (the first in
// the table that it begins wins) and may end in "[n]" to repeat it n times.
// Empty items are skipped. NIL for an unknown item or a "[" without "]".
Value TOTYPES(const Value& typeList, Here caller = Here::current());

// The entry point `name` (text, or a number for an ordinal) of `library`, or,
// when `library` is NIL, of the first of USER32, GDI32, KERNEL32, COMDLG32,
// SHELL32, VERSION and LZ32 that has it (a library loaded for the search
// stays loaded only when it had it). 0 when not found. (_GETPROCADDRESS)
Value PROCADDRESS(const Value& library, const Value& name, Here caller = Here::current());

// Calls a bound function with `arguments` converted by their type codes and
// gives its result converted by the result code. Missing arguments are 0 or
// a null address; extra ones are ignored. No call is made (NIL) when
// `function` is not a bound function, for the result codes "X" and "*", and
// for the pointer-array argument code "*", which has no defined meaning.
Value CALLDLL(const Value& function, std::initializer_list<Value> arguments = {},
              Here caller = Here::current());

}  // namespace rt
