// The two walks of the tree below the shared root: the scan for files that
// still carry the archive attribute, and the marking that gives it to every
// file. Both go depth first in listing order and hold only the listings of
// the folders on the current path.
#include "monitor/backup.h"

namespace monitor {

namespace {

constexpr int kArchiveOnly = 32;

// The listing of a folder: plain files and folders, neither hidden nor system.
rt::Value ListFolder(const rt::Value& folder) { return rt::DIRECTORY(folder + "*.*", "D"); }

// "." and ".." name the folder itself and its parent.
bool IsSelfOrParent(const rt::Value& name) { return name == "." || name == ".."; }

// A folder link (reparse point) is not entered: a link to a folder above it
// would make the walk go round for ever.
bool IsFolderToEnter(const rt::Value& letters) {
  return rt::IN("D", letters) && !rt::IN("L", letters);
}

}  // namespace

bool BACKUPINPROGRESS(const rt::Value& prefix, rt::Here caller) {
  rt::Activation self("BACKUPINPROGRESS", caller);
  const rt::Value folder = prefix.IsNil() ? rt::Value("") : prefix;
  rt::Value listing = ListFolder(folder);
  for (rt::Value& entry : listing.Elements()) {
    rt::Array& fields = entry.Elements();
    rt::Value name = rt::ALLTRIM(fields[rt::kEntryName]);
    const rt::Value& letters = fields[rt::kEntryAttributes];
    if (IsSelfOrParent(name)) continue;
    if (rt::IN("D", letters)) {
      if (IsFolderToEnter(letters) && BACKUPINPROGRESS(folder + name + "\\")) return true;
    } else if (rt::IN("A", letters)) {
      return true;
    }
  }
  return false;
}

void MARKFILES(const rt::Value& setAttributes, const rt::Value& prefix, rt::Here caller) {
  rt::Activation self("MARKFILES", caller);
  const rt::Value folder = prefix.IsNil() ? rt::Value("") : prefix;
  {
    rt::Value listing = ListFolder(folder);
    for (rt::Value& entry : listing.Elements()) {
      rt::Array& fields = entry.Elements();
      rt::Value name = rt::ALLTRIM(fields[rt::kEntryName]);
      const rt::Value& letters = fields[rt::kEntryAttributes];
      if (IsSelfOrParent(name)) continue;
      if (rt::IN("D", letters)) {
        if (IsFolderToEnter(letters)) MARKFILES(setAttributes, folder + name + "\\");
      } else if (!rt::IN("A", letters)) {
        rt::CALLDLL(setAttributes, {folder + name, kArchiveOnly});  // a failure is passed over
      }
    }
  }  // the listing is released here, before the reclaim
  rt::COLLECTGARBAGE();
}

}  // namespace monitor
