#include "launcher/localfiles.h"

namespace launcher {

namespace {

constexpr int kCloseDownAttempts = 20;
constexpr uint32_t kCloseDownPause = 500;
constexpr int kConfigurationAttempts = 10;
constexpr uint32_t kConfigurationPause = 250;
constexpr uint32_t kSettingsInUsePause = 300;
constexpr size_t kConfigurationCapacity = 511;  // a 512-byte buffer

bool IsReadOnlyOrUnknown(uint32_t attributes) {
  return attributes == plat::kInvalidAttributes || (attributes & plat::kAttrReadOnly) != 0;
}

void ShowReadOnlyMessage(Context& context, const std::string& localFolder) {
  ShowLauncherMessage(context,
                      Format("Files marked as READONLY in %s (including sub-folders)",
                             localFolder.c_str()),
                      kErrorStyle);
}

// Copies a shared file into the local folder under `localName`; reports
// "copying <name>" when it fails.
bool CopyIn(Context& context, const std::string& shared, const std::string& localFolder,
            const char* localName, const std::string& reportName) {
  std::string local;
  if (!LocalName(context, localFolder, localName, local)) return false;
  if (context.os.files.Copy(shared, local, false)) return true;
  ReportError(context, "copying " + reportName);
  return false;
}

bool StampsDiffer(Context& context, const std::string& a, const std::string& b) {
  return FileStamp(context, a) != FileStamp(context, b);
}

// A running application keeps the local library loaded, so deleting it only
// succeeds once the application has closed; RefreshSpreadsheetLibrary copies
// it back afterwards.
bool WaitForCloseDown(Context& context, const std::string& localFolder, bool silent) {
  std::string library;
  if (!LocalName(context, localFolder, "libxl.dll", library)) return false;
  for (int i = 0; i < kCloseDownAttempts && FileExists(context, library); ++i) {
    context.os.clock.Sleep(kCloseDownPause);
    context.os.files.Delete(library);
  }
  if (FileExists(context, library) && !silent) {
    ReportError(context, "waiting for Varnolet to close-down");
    return false;
  }
  return true;
}

bool RefreshDatabaseClient(Context& context, const std::string& localFolder) {
  std::string localClient;
  if (!LocalName(context, localFolder, "ACE32.DLL", localClient)) return false;
  if (FileExists(context, localClient) && !StampsDiffer(context, "AXS\\ACE32.DLL", localClient)) {
    return true;
  }
  context.os.files.MakeFolder(localFolder);
  for (const char* name : {"ACE32.DLL", "ADSLOC32.DLL", "AXCWS32.DLL"}) {
    if (!CopyIn(context, std::string("AXS\\") + name, localFolder, name, name)) return false;
  }
  return true;
}

// Copies the shared ADS.INI (unless the workstation opted out) and sets the
// two keys the application needs. A local file in use is left as it is.
bool RefreshClientSettings(Context& context, const std::string& localFolder) {
  std::string settings, optOut;
  if (!LocalName(context, localFolder, "ADS.INI", settings) ||
      !LocalName(context, localFolder, "NOADSINI.SYS", optOut)) {
    return false;
  }
  if (FileExists(context, "AXS\\ADS.INI") && !FileExists(context, optOut) &&
      !context.os.files.Copy("AXS\\ADS.INI", settings, false)) {
    uint32_t error = plat::LastError();
    if (error != plat::kErrorAccessDenied && error != plat::kErrorSharingViolation) {
      ReportError(context, "copying ADS.INI");
      return false;
    }
    if (IsReadOnlyOrUnknown(context.os.files.GetAttributes(settings))) {
      ShowReadOnlyMessage(context, localFolder);
      return false;
    }
    context.os.clock.Sleep(kSettingsInUsePause);
  }
  context.os.files.WriteIniString("SETTINGS", "MULTITASKING_OFF", "1", settings);
  context.os.files.WriteIniString("SETTINGS", "ENABLE_BLOCKING", "0", settings);
  return true;
}

// Writes ADSLOCAL.CFG, retrying a create that fails while the file is not
// read-only: another start on this workstation may be writing it.
bool WriteClientConfiguration(Context& context, const std::string& localFolder,
                              std::string& configuration) {
  if (!LocalName(context, localFolder, "ADSLOCAL.CFG", configuration)) return false;
  std::string text = ClientConfiguration(localFolder);
  if (text.size() > kConfigurationCapacity) {
    ShowLauncherMessage(context, Format("Local folder too long (%s)", localFolder.c_str()),
                        kErrorStyle);
    return false;
  }
  for (int failures = 1;; ++failures) {
    if (WriteSmallFile(context, configuration, text) != SmallWrite::kNotCreated) return true;
    if (failures == kConfigurationAttempts) {
      ReportError(context, "creating ADSLOCAL.CFG");
      return false;
    }
    if (IsReadOnlyOrUnknown(context.os.files.GetAttributes(configuration))) {
      ShowReadOnlyMessage(context, localFolder);
      return false;
    }
    context.os.clock.Sleep(kConfigurationPause);
  }
}

}  // namespace

std::string ClientConfiguration(const std::string& localFolder) {
  return "CONNECTIONS=100\r\n"
         "TABLES=150\r\n"
         "INDEXES=150\r\n"
         "LOCKS=500\r\n"
         "ERROR_LOG_MAX=250\r\n"
         "ERROR_ASSERT_LOGS=" +
         localFolder +
         "\r\n"
         "ANSI_CHAR_SET=Engl(Amer)\r\n"
         "OEM_CHAR_SET=USA\r\n"
         "FLUSH_FREQUENCY=0";
}

uint32_t FileStamp(Context& context, const std::string& name) {
  plat::FindEntry entry;
  uint16_t date = 0, time = 0;
  if (context.os.files.FindFirst(name, entry) && entry.lastWriteTime != 0 &&
      context.os.clock.ToDosDateTime(entry.lastWriteTime, date, time)) {
    return (static_cast<uint32_t>(date) << 16) | (time & 0xFFE0u);
  }
  return ++context.stampCounter;
}

bool RefreshClientFiles(Context& context, const std::string& localFolder, bool installOrUpgrade,
                        bool waitForClose, bool silent) {
  if (waitForClose && !WaitForCloseDown(context, localFolder, silent)) return false;
  std::string configuration;
  if (!RefreshDatabaseClient(context, localFolder) || !RefreshClientSettings(context, localFolder) ||
      !WriteClientConfiguration(context, localFolder, configuration)) {
    return false;
  }
  if (installOrUpgrade || waitForClose) {
    std::string copy;
    if (!LocalName(context, localFolder, "ADSLOCAL.CPY", copy)) return false;
    if (!context.os.files.Copy(configuration, copy, false)) {
      ReportError(context, "copying ADSLOCAL.CPY");
      return false;
    }
  }
  return true;
}

bool RefreshSpreadsheetLibrary(Context& context, const std::string& localFolder) {
  std::string library;
  if (!LocalName(context, localFolder, "libxl.dll", library)) return false;
  if (FileExists(context, library) && !StampsDiffer(context, library, "XLS\\libxl.dll")) {
    return true;
  }
  context.os.files.MakeFolder(localFolder);
  return CopyIn(context, "XLS\\libxl.dll", localFolder, "libxl.dll", "libxl.dll");
}

bool RefreshLocalProgram(Context& context, const std::string& localFolder,
                         const std::string& localProgram) {
  if (FileExists(context, localProgram) && !StampsDiffer(context, localProgram, "PURCHASE.EXE")) {
    return true;
  }
  context.os.ui.ShowWaitCursor();
  context.os.files.MakeFolder(localFolder);
  return CopyIn(context, "LOCALMSG.TXT", localFolder, "README.TXT", "LOCALMSG.TXT") &&
         CopyIn(context, "PURCHASE.EXE", localFolder, "PURCHASE.EXE", "PURCHASE.EXE");
}

}  // namespace launcher
