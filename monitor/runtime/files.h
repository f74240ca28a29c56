// The file operations: existence test, delete, whole-file read and directory
// listing. None raises a run-time error; failures show only in the result.
#pragma once

#include "monitor/runtime/state.h"
#include "monitor/runtime/value.h"

namespace rt {

// The five fields of a DIRECTORY entry, 0-based.
enum EntryField { kEntryName, kEntrySize, kEntryDate, kEntryTime, kEntryAttributes };

// True when a directory search for `name` (wildcards allowed, relative to the
// current folder) finds any entry: files of every attribute and folders count.
bool FILE(const Value& name, Here caller = Here::current());

// Deletes a file: 0 when deleted, -1 otherwise (missing, read-only, held
// open by another process, a folder, not a text).
Value FERASE(const Value& name, Here caller = Here::current());

// The whole content of a file, read while others may read and write it,
// without one trailing end mark 0x1A; the empty text when it cannot be read.
Value MEMOREAD(const Value& name, Here caller = Here::current());

// The entries matching `pattern` ("*.*" when it is not a text), each an array
// of name, size, date, "hh:mm:ss" time and attribute letters (in the order
// "RHSVDAETPLCOXIM"). Hidden, system and folder entries are listed only when
// `attributes` holds H, S or D; an entry also needs no attribute, only the
// normal or folder attribute, or one that the request holds.
Value DIRECTORY(const Value& pattern = NIL, const Value& attributes = NIL,
                Here caller = Here::current());

// The attribute letters of an attribute set.
std::string AttributeLetters(uint32_t attributes);

}  // namespace rt
