// The file operations: existence test, delete, whole-file read and directory
// listing. None raises a run-time error; failures show only in the result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// A folder's entries as a walk of a tree reads them: those that
// DIRECTORY(pattern, attributes) lists, each with its name and its
// attributes, whose letters are the entry's fifth field. The platform may
// leave out what a walk never reads: the entries "." and ".." (which a walk
// passes over) and the size and last-write time.
class WalkListing {
 public:
  WalkListing(const Value& pattern, const Value& attributes, Here caller = Here::current());
  size_t size() const { return entries_.size(); }
  std::string_view Name(size_t i) const {
    size_t start = i ? entries_[i - 1].end : 0;
    return std::string_view(names_).substr(start, entries_[i].end - start);
  }
  uint32_t Attributes(size_t i) const { return entries_[i].attributes; }

 private:
  struct Entry {
    size_t end;  // where the name ends in names_
    uint32_t attributes;
  };
  std::string names_;  // the names, one after the other
  std::vector<Entry> entries_;
};

// The attribute letters of an attribute set.
std::string AttributeLetters(uint32_t attributes);

}  // namespace rt
