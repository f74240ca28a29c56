#include "launcher/start.h"

#include "launcher/identity.h"
#include "launcher/localfiles.h"
#include "launcher/relay.h"

namespace launcher {

namespace {

constexpr char kRootMarker[] = "UTILS\\QZTSTDIR\\QZTSTDIR.CHK";
constexpr char kSharedProgram[] = "PURCHASE.EXE";
constexpr char kWaitWord[] = "WAIT4EXIT";
constexpr char kPolicyKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

// The steps of the normal start, in its order, defined below it.
bool EnterNetworkFolder(Context& context);
bool CheckSharedRoot(Context& context);
bool EndWithBackslash(Context& context, std::string& folder);
bool IsInstallOrUpgradeStart(const std::string& passThrough);
bool StartApplication(Context& context, const std::string& program, const std::string& parameters,
                      const std::string& verb);
std::string ChooseVerb(Context& context, bool installOrUpgrade);

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Skips the program's own name: a quoted name up to its closing quote, or an
// unquoted one up to the first blank or control character; then every blank
// and control character after it.
std::string_view SkipProgramName(std::string_view line) {
  size_t i = 0;
  if (!line.empty() && line[0] == '"') {
    size_t close = line.find('"', 1);
    i = close == std::string_view::npos ? line.size() : close + 1;
  } else {
    while (i < line.size() && !IsBlankOrControl(line[i])) ++i;
  }
  while (i < line.size() && IsBlankOrControl(line[i])) ++i;
  return line.substr(i);
}

}  // namespace

std::string_view NextArgument(std::string_view source, std::string& argument, size_t capacity,
                              std::string_view defaultValue) {
  size_t i = 0;
  while (i < source.size() && source[i] == ' ') ++i;
  argument.clear();
  bool quoted = false;
  bool copied = false;
  while (i < source.size()) {
    char c = source[i];
    if (c == '"') {
      ++i;
      if (quoted) break;  // the closing quote ends the argument at once
      quoted = true;
      continue;
    }
    if (c == ' ' && !quoted) break;
    if (argument.size() < capacity) argument += c;
    copied = true;
    ++i;
  }
  if (!copied) argument.assign(defaultValue);
  return source.substr(i);
}

Arguments ParseCommandLine(std::string_view commandLine) {
  Arguments arguments;
  std::string_view rest = SkipProgramName(commandLine);
  rest = NextArgument(rest, arguments.localFolder, kLocalFolderCapacity, kDefaultLocalFolder);
  rest = NextArgument(rest, arguments.passThrough, kPassThroughCapacity, "");
  rest = NextArgument(rest, arguments.mode, kModeCapacity, "");
  NextArgument(rest, arguments.requestFile, kRequestFileCapacity, "");
  return arguments;
}

int Run(plat::Platform& os) {
  Context context{os};
  Arguments arguments = ParseCommandLine(os.system.CommandLine());
  Dispatch(context, arguments);
  return 0;
}

void Dispatch(Context& context, Arguments& arguments) {
  if (!arguments.requestFile.empty()) {
    HandleRequestFile(context, arguments.passThrough, arguments.mode, arguments.requestFile);
  } else if (!arguments.mode.empty() && arguments.mode != kWaitWord) {
    HandleMessageRequest(context, arguments.mode);
  } else {
    NormalStart(context, arguments);
  }
}

bool NormalStart(Context& context, Arguments& arguments) {
  if (!EnterNetworkFolder(context) || !CheckSharedRoot(context)) return false;
  std::string& folder = arguments.localFolder;
  if (!EndWithBackslash(context, folder) || !PrepareLocalFolder(context, folder)) return false;

  std::string program;
  if (!LocalName(context, folder, kSharedProgram, program)) return false;
  const std::string& passThrough = arguments.passThrough;
  bool installOrUpgrade = IsInstallOrUpgradeStart(passThrough);
  bool waitForClose = arguments.mode == kWaitWord;
  bool silent = passThrough.find("SILENT") != std::string::npos;

  if (!RefreshClientFiles(context, folder, installOrUpgrade, waitForClose, silent) ||
      !RefreshSpreadsheetLibrary(context, folder) || !RefreshLocalProgram(context, folder, program)) {
    return false;
  }

  std::string parameters = "QZWINIT " + folder + " " + passThrough;
  if (parameters.size() > kPathCapacity) {
    ShowLauncherMessage(context, Format("Start parameters too long (%s)", parameters.c_str()),
                        kErrorStyle);
    return false;
  }
  return StartApplication(context, program, parameters, ChooseVerb(context, installOrUpgrade));
}

namespace {

// Makes the launcher's own folder current when it was started by a network
// path, so that the root checks look at the share it was started from.
bool EnterNetworkFolder(Context& context) {
  std::string self;
  if (!context.os.system.ModulePath(self) || self.size() > kPathCapacity + 1) {
    if (!self.empty()) plat::SetLastError(plat::kErrorInsufficientBuffer);
    ReportError(context, "obtaining EXE path information");
    return false;
  }
  if (self.compare(0, 2, "\\\\") != 0) return true;
  // The folder is the path up to its last backslash, so it does not depend on
  // the launcher's own file name.
  std::string folder = self.substr(0, self.find_last_of('\\') + 1);
  if (!context.os.files.SetCurrentFolder(folder)) {
    ReportError(context, "setting default path");
    return false;
  }
  return true;
}

bool CheckSharedRoot(Context& context) {
  if (!FileExists(context, kRootMarker)) {
    ShowLauncherMessage(context, "This is not the Varnolet root folder", kErrorStyle);
    return false;
  }
  if (!FileExists(context, kSharedProgram)) {
    ShowLauncherMessage(context, "Varnolet is being updated - Please try again in a few minutes...",
                        kInformationStyle);
    return false;
  }
  return true;
}

bool EndWithBackslash(Context& context, std::string& folder) {
  if (!folder.empty() && folder.back() == '\\') return true;
  if (folder.size() + 1 > kPathCapacity) {
    ShowLauncherMessage(context, Format("Local folder too long (%s)", folder.c_str()), kErrorStyle);
    return false;
  }
  folder += '\\';
  return true;
}

bool IsInstallOrUpgradeStart(const std::string& passThrough) {
  return StartsWithIgnoringCase(passThrough, "INSTALL") ||
         passThrough.find("QZ-COMPLETE-UPGRADE") != std::string::npos;
}

// The shell start, the last step.

std::string ChooseVerb(Context& context, bool installOrUpgrade) {
  bool elevate = installOrUpgrade && (context.os.system.Version() & 0xFF) >= 6 &&
                 UacPromptsElevation(context);
  return elevate ? "runas" : "open";
}

bool StartApplication(Context& context, const std::string& program, const std::string& parameters,
                      const std::string& verb) {
  uint32_t result = context.os.processes.ShellStart(context.os.ui.DesktopWindow(), verb, program,
                                                    parameters, kShowNormal);
  if (result > 32) return true;
  uint32_t error = plat::LastError();
  if (error == plat::kErrorSingleInstanceApp) {
    ShowLauncherMessage(context, "Varnolet is already running", kInformationStyle);
  } else {
    ShowLauncherMessage(context, Format("#%ld - Unable to run Varnolet", static_cast<long>(error)),
                        kErrorStyle);
  }
  return false;
}

}  // namespace

bool UacPromptsElevation(Context& context) {
  uint32_t enabled = 0;
  switch (context.os.system.MachineNumber(kPolicyKey, "EnableLUA", enabled)) {
    case plat::RegistryRead::kKeyMissing:
      return true;
    case plat::RegistryRead::kValueMissing:
      enabled = 0;
      break;
    case plat::RegistryRead::kRead:
      break;
  }
  return enabled != 0;
}

}  // namespace launcher
