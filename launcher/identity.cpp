#include "launcher/identity.h"

#include <initializer_list>
#include <map>

namespace launcher {

namespace {

// 26 capital letters in a scrambled order, a full stop, a backslash and a tilde.
constexpr char kLetters[] = "NUCMSPEAW.YGTXZJIH\\ODKLRBVFQ~";
static_assert(sizeof(kLetters) == 30);

constexpr char kCaclsFile[] = "CACLS.SYS";
constexpr char kSettingsFile[] = "PURCHASE.INI";
constexpr char kDefaultBase[] = "C:\\_$MERIXA";  // the default folder without its backslash
constexpr char kLegacySettings[] = "C:\\_$MERIXA\\PURCHASE.INI";
constexpr char kRetiredLegacySettings[] = "C:\\_$MERIXA\\PURCHASE.INI.OLD";
constexpr char kRightsMessage[] = "Missing create/modify/delete rights";
constexpr size_t kIdentityCapacity = 100;

// Each piece is a position in kLetters, or a plain character given negated.
std::string Assemble(std::initializer_list<int> pieces) {
  std::string name;
  for (int piece : pieces) name += piece >= 0 ? kLetters[piece] : static_cast<char>(-piece);
  return name;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && StartsWithIgnoringCase(a, b);
}

bool HasArchiveAttribute(uint32_t attributes) {
  return attributes == plat::kInvalidAttributes || (attributes & plat::kAttrArchive) != 0;
}

// Whether a file is there. A search that fails for another reason than a
// missing file or folder (access denied, a sharing violation, a network
// error) proves nothing, and a new identity made on it would replace the
// installation's own.
enum class Presence { kPresent, kAbsent, kUnknown };

bool LastErrorSaysMissing() {
  uint32_t error = plat::LastError();
  return error == plat::kErrorFileNotFound || error == plat::kErrorPathNotFound;
}

Presence Lookup(Context& context, const std::string& name) {
  plat::FindEntry entry;
  if (context.os.files.FindFirst(name, entry)) return Presence::kPresent;
  return LastErrorSaysMissing() ? Presence::kAbsent : Presence::kUnknown;
}

// What this start has learnt about the identity files that an everyday start
// finds missing: the previous identity and the three backups. Each is asked
// once, since every question about a missing name is a round trip to the
// file server that no client remembers; what the start changes itself is
// asked afresh.
class Answers {
 public:
  explicit Answers(Context& context) : context_(context) {}

  // Whether `name` is there, asked only when this start does not know yet.
  // An answer that proves nothing is not kept, so the next use asks again.
  Presence Ask(const std::string& name) {
    auto known = answers_.find(name);
    if (known != answers_.end()) return known->second;
    Presence presence = Lookup(context_, name);
    if (presence != Presence::kUnknown) answers_[name] = presence;
    return presence;
  }

  bool Present(const std::string& name) { return Ask(name) == Presence::kPresent; }

  // True when an answer of this start says that `name` is missing; asks nothing.
  bool KnownAbsent(const std::string& name) const {
    auto known = answers_.find(name);
    return known != answers_.end() && known->second == Presence::kAbsent;
  }

  // After this start copied onto `name`, or deleted it (`gone`).
  void Changed(const std::string& name, bool gone = false) {
    if (gone) {
      answers_[name] = Presence::kAbsent;
    } else {
      answers_.erase(name);
    }
  }

  // Drops every answer, so that a decision rests on questions asked now.
  void Forget() { answers_.clear(); }

 private:
  Context& context_;
  std::map<std::string, Presence> answers_;
};

// Deletes the three backups; a delete that would fail on a backup known to be
// missing is not made.
void DeleteBackups(Context& context, const IdentityFiles& files, Answers& answers) {
  for (const std::string* backup : {&files.firstBackup, &files.secondBackup, &files.shiftedBackup}) {
    if (answers.KnownAbsent(*backup)) continue;
    bool gone = context.os.files.Delete(*backup) || LastErrorSaysMissing();
    answers.Changed(*backup, gone);
  }
}

// Sets the identity files to normal attributes so that they can be replaced
// and deleted; failures are ignored, so the files known to be missing are
// passed over. The identity file is nearly always there and is not asked about.
void ClearIdentityAttributes(Context& context, const IdentityFiles& files, Answers& answers) {
  plat::FileSystem& fs = context.os.files;
  fs.SetAttributes(files.identity, plat::kAttrNormal);
  for (const std::string* name :
       {&files.previous, &files.firstBackup, &files.secondBackup, &files.shiftedBackup}) {
    if (answers.Ask(*name) != Presence::kAbsent) fs.SetAttributes(*name, plat::kAttrNormal);
  }
}

// The rights check is due when the marker is missing or has the archive
// attribute; the search that finds it gives its attributes as well.
bool RightsCheckDue(Context& context, const IdentityFiles& files) {
  plat::FindEntry marker;
  if (!context.os.files.FindFirst(files.rightsMarker, marker)) return true;
  return HasArchiveAttribute(marker.attributes);
}

// Proves that the user may create, modify and delete files in the shared root,
// and retires the identity so that a new one is made.
bool RunRightsCheck(Context& context, const IdentityFiles& files, Answers& answers) {
  plat::FileSystem& fs = context.os.files;
  fs.Copy(files.rightsSource, files.rightsMarker, false);
  if (!FileExists(context, files.rightsMarker)) {
    ShowLauncherMessage(context, kRightsMessage, kErrorStyle);
    return false;
  }
  if (FileExists(context, files.identity)) {
    fs.Copy(files.identity, files.previous, false);
    answers.Changed(files.previous);
    fs.Delete(files.identity);
    if (FileExists(context, files.identity)) {
      ShowLauncherMessage(context, kRightsMessage, kErrorStyle);
      return false;
    }
    DeleteBackups(context, files, answers);
  }
  fs.Delete(kCaclsFile);
  return true;
}

// Restores a missing identity file from a backup. The shifted backup, when it
// exists, is decoded instead and wins over the identity file later.
void RestoreIdentity(Context& context, const IdentityFiles& files, Answers& answers,
                     std::string& backupIdentity) {
  if (answers.Present(files.shiftedBackup)) {
    std::string shifted;
    if (ReadSmallFile(context, files.shiftedBackup, shifted) == SmallRead::kOk) {
      for (char& c : shifted) c = static_cast<char>(static_cast<unsigned char>(c) - 1);
      backupIdentity = shifted;
    }
  } else if (answers.Present(files.firstBackup)) {
    context.os.files.Copy(files.firstBackup, files.identity, false);
  } else if (answers.Present(files.secondBackup)) {
    context.os.files.Copy(files.secondBackup, files.identity, false);
  }
}

bool ReadIdentity(Context& context, const IdentityFiles& files, const std::string& backupIdentity,
                  std::string& identity) {
  switch (ReadSmallFile(context, files.identity, identity)) {
    case SmallRead::kOpenFailed:
      ReportError(context, "opening id file");
      return false;
    case SmallRead::kReadFailed:
      ReportError(context, "reading id file");
      return false;
    case SmallRead::kOk:
      break;
  }
  if (!backupIdentity.empty() && backupIdentity != identity) {
    // A failed rewrite stays silent; one that emptied the file puts the old
    // text back, since an empty identity file stops every later start.
    if (WriteSmallFile(context, files.identity, backupIdentity) == SmallWrite::kNotWritten) {
      WriteSmallFile(context, files.identity, identity);
    }
    identity = backupIdentity;
  }
  return true;
}

bool CreateIdentity(Context& context, const IdentityFiles& files, Answers& answers,
                    std::string& identity) {
  plat::CalendarTime utc = context.os.clock.UtcNow();
  uint32_t memory = context.os.system.AvailablePhysicalMemory();
  uint32_t seed = context.os.clock.TickCount();
  std::string datePart = Format("%04d%02d%02d", utc.year, utc.month, utc.day);
  if (answers.Present(files.previous)) {
    std::string previous;
    switch (ReadSmallFile(context, files.previous, previous)) {
      case SmallRead::kOpenFailed:
        ReportError(context, "opening old id file");
        return false;
      case SmallRead::kReadFailed:
        ReportError(context, "reading old id file");
        return false;
      case SmallRead::kOk:
        datePart = previous.substr(0, 8);
        break;
    }
  }
  uint32_t random = NextRandom(seed);
  identity = FormatIdentity(datePart, utc, context.os.clock.TickCount(), memory, random);
  if (identity.size() > kIdentityCapacity) identity.resize(kIdentityCapacity);
  SmallWrite written = WriteSmallFile(context, files.identity, identity);
  if (written != SmallWrite::kWritten) {
    ReportError(context, "creating id file");
    // Left empty, the file would stop every later start with "reading id
    // file" instead of letting it make a new identity.
    if (written == SmallWrite::kNotWritten) context.os.files.Delete(files.identity);
    return false;
  }
  DeleteBackups(context, files, answers);
  return true;
}

// Creates the folder and its parents, from the first folder below the drive
// root on; existing folders and failures are passed over.
void CreateFolderPath(Context& context, const std::string& folder) {
  for (size_t i = 3; i < folder.size(); ++i) {
    if (folder[i] == '\\') context.os.files.MakeFolder(folder.substr(0, i));
  }
}

// Brings the user's local settings into a newly prepared default sub-folder:
// from the old single-folder layout, or else from the previous identity's
// sub-folder. Every failure here is silent.
void CarrySettingsOver(Context& context, const IdentityFiles& files, Answers& answers,
                       const std::string& folder) {
  plat::FileSystem& fs = context.os.files;
  std::string settings = folder + kSettingsFile;
  if (FileExists(context, settings) || !StartsWithIgnoringCase(folder, kDefaultBase)) return;
  if (FileExists(context, kLegacySettings)) {
    // The legacy file is only removed once its copy is in place, so a failed
    // copy never loses the user's settings.
    if (fs.Copy(kLegacySettings, settings, false)) {
      fs.Rename(kLegacySettings, kRetiredLegacySettings);
      fs.Delete(kLegacySettings);
    }
    return;
  }
  std::string previous;
  if (answers.KnownAbsent(files.previous) ||
      ReadSmallFile(context, files.previous, previous) != SmallRead::kOk) {
    return;
  }
  if (!IsUsableIdentity(previous)) return;
  std::string previousSettings = std::string(kDefaultBase) + "\\" + previous + "\\" + kSettingsFile;
  if (previousSettings.size() <= kPathCapacity && FileExists(context, previousSettings)) {
    fs.Copy(previousSettings, settings, false);
  }
}

bool PrepareFolderContents(Context& context, const IdentityFiles& files, Answers& answers,
                           const std::string& folder) {
  std::string localIdentity;
  if (!LocalName(context, folder, files.identity.c_str(), localIdentity)) return false;
  if (FileExists(context, localIdentity)) return true;
  CreateFolderPath(context, folder);
  context.os.files.Copy(files.identity, localIdentity, false);
  if (!FileExists(context, localIdentity)) {
    ReportError(context, "creating local folder");
    return false;
  }
  CarrySettingsOver(context, files, answers, folder);
  return true;
}

bool ClearRightsMarker(Context& context, const IdentityFiles& files) {
  context.os.files.SetAttributes(files.rightsMarker, plat::kAttrNormal);
  if (HasArchiveAttribute(context.os.files.GetAttributes(files.rightsMarker))) {
    ShowLauncherMessage(context, "Unable to set file attributes", kErrorStyle);
    return false;
  }
  return true;
}

}  // namespace

IdentityFiles AssembleIdentityFiles() {
  IdentityFiles files;
  files.identity = Assemble({27, 14, 16, 0, 4, 12, 9, 16, 20});
  files.previous = Assemble({1, 12, 16, 22, 4, 18, 5, 23, 6, 25, 9, 16, 20});
  files.firstBackup = Assemble({1, 12, 16, 22, 4, 18, 27, 14, 16, 20, -'1', 9, 24, 7, 21});
  files.secondBackup = Assemble({1, 12, 16, 22, 4, 18, 28, 27, 14, 16, 20, -'2', 9, 24, 7, 21});
  files.shiftedBackup = Assemble(
      {1, 12, 16, 22, 4, 18, 27, 14, 12, 4, 12, 20, 16, 23, 18, 27, 14, 16, 20, 13, 9, 24, 7, 21});
  files.rightsMarker = Assemble({1,  12, 16, 22, 4,  18, 27, 14, 12, 4, 12, 20, 16, 23, 18,
                                 23, 16, 11, 17, 12, 4,  3,  7,  23, 21, 9, 2,  17, 21});
  files.rightsSource = Assemble({27, 14, 23, 12, 4, 9, 12, 4, 12});
  return files;
}

uint32_t NextRandom(uint32_t& state) {
  state = state * 214013u + 2531011u;
  return (state >> 16) & 0x7FFF;
}

std::string FormatIdentity(const std::string& datePart, const plat::CalendarTime& utc,
                           uint32_t tick, uint32_t memory, uint32_t random) {
  return Format("%s-%02d%02d%02d-%lu-%lu-%lu", datePart.c_str(), utc.hour, utc.minute, utc.second,
                static_cast<unsigned long>(tick), static_cast<unsigned long>(memory),
                static_cast<unsigned long>(random));
}

bool IsUsableIdentity(const std::string& identity) {
  if (identity.empty() || identity == "." || identity == "..") return false;
  for (char c : identity) {
    if (static_cast<unsigned char>(c) < ' ') return false;
    for (char forbidden : std::string("\\/:*?\"<>|")) {
      if (c == forbidden) return false;
    }
  }
  return true;
}

bool PrepareLocalFolder(Context& context, std::string& localFolder) {
  if (localFolder.size() < 3 || localFolder[1] != ':' || localFolder[2] != '\\') {
    ShowLauncherMessage(context, Format("Invalid local folder (%s)", localFolder.c_str()),
                        kErrorStyle);
    return false;
  }
  IdentityFiles files = AssembleIdentityFiles();
  Answers answers(context);
  ClearIdentityAttributes(context, files, answers);

  std::string backupIdentity;
  bool rightsCheck = RightsCheckDue(context, files);
  if (rightsCheck) {
    if (!RunRightsCheck(context, files, answers)) return false;
  } else {
    RestoreIdentity(context, files, answers, backupIdentity);
  }

  Presence found = Lookup(context, files.identity);
  if (found == Presence::kAbsent && !rightsCheck) {
    // A new identity replaces the installation's own and deletes the
    // backups: the restore is made again from questions asked now, in case
    // a backup appeared since the answers it used.
    answers.Forget();
    backupIdentity.clear();
    RestoreIdentity(context, files, answers, backupIdentity);
    found = Lookup(context, files.identity);
  }
  std::string identity;
  bool settled = false;
  switch (found) {
    case Presence::kPresent:
      settled = ReadIdentity(context, files, backupIdentity, identity);
      break;
    case Presence::kAbsent:
      settled = CreateIdentity(context, files, answers, identity);
      break;
    case Presence::kUnknown:
      ReportError(context, "opening id file");
      break;
  }
  if (!settled) return false;

  if (EqualsIgnoringCase(localFolder, kDefaultLocalFolder)) {
    // The identity names a folder, so it must not lead out of the default one.
    if (!IsUsableIdentity(identity)) {
      ShowLauncherMessage(context, Format("Invalid installation identity (%s)", identity.c_str()),
                          kErrorStyle);
      return false;
    }
    std::string extended = localFolder + identity + "\\";
    if (extended.size() > kPathCapacity) {
      ShowLauncherMessage(context, Format("Local folder too long (%s)", extended.c_str()),
                          kErrorStyle);
      return false;
    }
    localFolder = extended;
  }
  return PrepareFolderContents(context, files, answers, localFolder) &&
         ClearRightsMarker(context, files);
}

}  // namespace launcher
