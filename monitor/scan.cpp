// The two walks of the tree below the shared root: the scan for files that
// still carry the archive attribute, and the marking that gives it to every
// file. Both go depth first in listing order and hold only the listings of
// the folders on the current path. Of each entry they read the name and the
// attribute letters, and ask the listing for nothing else.
#include "monitor/backup.h"
#include "monitor/runlog.h"

namespace monitor {

namespace {

constexpr int kArchiveOnly = 32;

const rt::Value kListed = "D";

// The name of an entry that the walk goes on with: trimmed of blanks, as
// ALLTRIM trims it.
std::string_view WalkName(const rt::WalkListing& listing, size_t i) {
  return rt::AllTrimmed(listing.Name(i));
}

// "." and ".." name the folder itself and its parent.
bool IsSelfOrParent(std::string_view name) { return name == "." || name == ".."; }

// The letters D (folder), A (archive) and L (link) of an entry's attribute
// letters: each stands for one attribute bit.
bool IsFolder(uint32_t attributes) { return attributes & plat::kAttrDirectory; }
bool HasArchive(uint32_t attributes) { return attributes & plat::kAttrArchive; }

// A folder link (reparse point) is not entered: a link to a folder above it
// would make the walk go round for ever.
bool IsLink(uint32_t attributes) { return attributes & plat::kAttrReparsePoint; }

// The path of an entry of `folder` followed by `end`: a file's path, or with
// a backslash the prefix of a sub-folder.
rt::Value PathOf(const rt::Value& folder, std::string_view name, std::string_view end = "") {
  std::string path;
  path.reserve(folder.Text().size() + name.size() + end.size());
  path.append(folder.Text()).append(name).append(end);
  return path;
}

// A file link whose target lies outside the shared root is passed over, as
// the file server passes it over for the share's users (Samba's "wide links
// = no"): the scan does not wait for it and the marking does not write
// through it. The run log names the first one.
bool LeadsOutOfTheRoot(const rt::Value& folder, std::string_view name, uint32_t attributes) {
  if (!IsLink(attributes)) return false;
  rt::Value path = PathOf(folder, name);
  if (!rt::Os().files.LeadsOutside(path.Text())) return false;
  LogLinkOutOfTheRoot(path.Text());
  return true;
}

// The listing of a folder: plain files and folders, neither hidden nor system.
rt::WalkListing ListFolder(const rt::Value& folder) {
  return rt::WalkListing(PathOf(folder, "*.*"), kListed);
}

// Counts a failed attribute call, and keeps the first failure and the first
// refusal of the run's rights.
void NoteFailure(WalkRecord& record, const std::string& path, uint32_t error) {
  if (record.failed++ == 0) {
    record.firstFailureError = error;
    record.firstFailure = path;
  }
  if (error == plat::kErrorAccessDenied && record.firstDenied.empty()) record.firstDenied = path;
}

}  // namespace

WalkRecord& LastWalks() {
  static WalkRecord record;
  return record;
}

bool BACKUPINPROGRESS(const rt::Value& prefix, rt::Here caller) {
  rt::Activation self("BACKUPINPROGRESS", caller);
  const rt::Value folder = prefix.IsNil() ? rt::Value("") : prefix;
  rt::WalkListing listing = ListFolder(folder);
  for (size_t i = 0; i < listing.size(); ++i) {
    std::string_view name = WalkName(listing, i);
    uint32_t attributes = listing.Attributes(i);
    EndIfStopped();
    if (IsSelfOrParent(name)) continue;
    if (IsFolder(attributes)) {
      if (!IsLink(attributes) && BACKUPINPROGRESS(PathOf(folder, name, "\\"))) return true;
    } else if (HasArchive(attributes) && !LeadsOutOfTheRoot(folder, name, attributes)) {
      LastWalks().flaggedFile = PathOf(folder, name).Text();
      return true;
    }
  }
  return false;
}

void MARKFILES(const rt::Value& setAttributes, const rt::Value& prefix, rt::Here caller) {
  rt::Activation self("MARKFILES", caller);
  const rt::Value folder = prefix.IsNil() ? rt::Value("") : prefix;
  WalkRecord& record = LastWalks();
  {
    rt::WalkListing listing = ListFolder(folder);
    for (size_t i = 0; i < listing.size(); ++i) {
      std::string_view name = WalkName(listing, i);
      uint32_t attributes = listing.Attributes(i);
      EndIfStopped();
      if (IsSelfOrParent(name)) continue;
      if (IsFolder(attributes)) {
        if (!IsLink(attributes)) MARKFILES(setAttributes, PathOf(folder, name, "\\"));
      } else if (LeadsOutOfTheRoot(folder, name, attributes)) {
        continue;
      } else if (!HasArchive(attributes)) {
        // A failure is passed over; the record counts it.
        if (rt::CALLDLL(setAttributes, {PathOf(folder, name), kArchiveOnly}).Logical()) {
          ++record.marked;
        } else {
          NoteFailure(record, PathOf(folder, name).Text(), plat::LastError());
        }
      } else {
        ++record.alreadyFlagged;
      }
    }
  }  // the listing is released here, before the reclaim
  rt::COLLECTGARBAGE();
}

}  // namespace monitor
