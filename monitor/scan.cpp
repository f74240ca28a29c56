// The two walks of the tree below the shared root: the scan for files that
// still carry the archive attribute, and the marking that gives it to every
// file. Both go depth first in listing order and hold only the listings of
// the folders on the current path.
#include "monitor/backup.h"

namespace monitor {

namespace {

constexpr int kArchiveOnly = 32;

// The texts each entry is compared with, made once: a walk compares millions.
const rt::Value kFolderLetter = "D", kArchiveLetter = "A", kLinkLetter = "L";
const rt::Value kSelf = ".", kParent = "..", kEveryName = "*.*", kListed = "D";

// The listing of a folder: plain files and folders, neither hidden nor system.
rt::Value ListFolder(const rt::Value& folder) { return rt::DIRECTORY(folder + kEveryName, kListed); }

// "." and ".." name the folder itself and its parent.
bool IsSelfOrParent(const rt::Value& name) { return name == kSelf || name == kParent; }

// A folder link (reparse point) is not entered: a link to a folder above it
// would make the walk go round for ever.
bool IsLink(const rt::Value& letters) { return rt::IN(kLinkLetter, letters); }

}  // namespace

WalkRecord& LastWalks() {
  static WalkRecord record;
  return record;
}

bool BACKUPINPROGRESS(const rt::Value& prefix, rt::Here caller) {
  rt::Activation self("BACKUPINPROGRESS", caller);
  const rt::Value folder = prefix.IsNil() ? rt::Value("") : prefix;
  rt::Value listing = ListFolder(folder);
  for (rt::Value& entry : listing.Elements()) {
    rt::Array& fields = entry.Elements();
    rt::Value name = rt::ALLTRIM(fields[rt::kEntryName]);
    const rt::Value& letters = fields[rt::kEntryAttributes];
    if (IsSelfOrParent(name)) continue;
    if (rt::IN(kFolderLetter, letters)) {
      if (!IsLink(letters) && BACKUPINPROGRESS(folder + name + "\\")) return true;
    } else if (rt::IN(kArchiveLetter, letters)) {
      LastWalks().flaggedFile = (folder + name).Text();
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
    rt::Value listing = ListFolder(folder);
    for (rt::Value& entry : listing.Elements()) {
      rt::Array& fields = entry.Elements();
      rt::Value name = rt::ALLTRIM(fields[rt::kEntryName]);
      const rt::Value& letters = fields[rt::kEntryAttributes];
      if (IsSelfOrParent(name)) continue;
      if (rt::IN(kFolderLetter, letters)) {
        if (!IsLink(letters)) MARKFILES(setAttributes, folder + name + "\\");
      } else if (!rt::IN(kArchiveLetter, letters)) {
        // A failure is passed over; the record counts it.
        if (rt::CALLDLL(setAttributes, {folder + name, kArchiveOnly}).Logical()) {
          ++record.marked;
        } else if (record.failed++ == 0) {
          record.firstFailureError = plat::LastError();
          record.firstFailure = (folder + name).Text();
        }
      } else {
        ++record.alreadyFlagged;
      }
    }
  }  // the listing is released here, before the reclaim
  rt::COLLECTGARBAGE();
}

}  // namespace monitor
