#include "launcher/start.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "launcher/identity.h"
#include "launcher/localfiles.h"
#include "launcher/relay.h"

namespace launcher {

namespace {

constexpr char kRootMarker[] = "UTILS\\QZTSTDIR\\QZTSTDIR.CHK";
constexpr char kSharedProgram[] = "PURCHASE.EXE";
constexpr char kWaitWord[] = "WAIT4EXIT";
constexpr char kUserAccountFile[] = "SYSTEM\\LSAUSER.SYS";
constexpr char kMessageLog[] = "LASTMSG.LOG";
constexpr char kPolicyKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr size_t kReportCapacity = 255;  // a 256-character message buffer

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

// True when the logged-on user is the account named in SYSTEM\LSAUSER.SYS,
// whose messages go to LASTMSG.LOG instead of the screen.
bool MessagesAreLogged(Context& context) {
  if (!FileExists(context, kUserAccountFile)) return false;
  std::string user;
  if (!context.os.system.NetworkUserName(user) || user.empty()) return false;
  std::string account;
  return ReadSmallFile(context, kUserAccountFile, account) == SmallRead::kOk && account == user;
}

bool IsInstallOrUpgradeStart(const std::string& passThrough) {
  return StartsWithIgnoringCase(passThrough, "INSTALL") ||
         passThrough.find("QZ-COMPLETE-UPGRADE") != std::string::npos;
}

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

std::string Format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list measure;
  va_copy(measure, arguments);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text;
  if (length > 0) {
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
    text.assign(buffer.data(), static_cast<size_t>(length));
  }
  va_end(arguments);
  return text;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(text[i]) != lower(prefix[i])) return false;
  }
  return true;
}

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

void ShowMessage(Context& context, uint32_t owner, const std::string& text,
                 const std::string& caption, uint32_t style) {
  if (MessagesAreLogged(context)) {
    WriteSmallFile(context, kMessageLog, text);  // when it cannot be created, the text is dropped
  } else {
    context.os.ui.ShowMessageBox(owner, text, caption, style);
  }
}

void ShowLauncherMessage(Context& context, const std::string& text, uint32_t style) {
  ShowMessage(context, context.os.ui.DesktopWindow(), text, kCaption, style);
}

void ReportError(Context& context, const std::string& what) {
  long error = static_cast<long>(plat::LastError());
  std::string text = Format("#%ld - Error while %s", error, what.c_str());
  if (text.size() > kReportCapacity) text.resize(kReportCapacity);
  ShowLauncherMessage(context, text, kErrorStyle);
}

bool FileExists(Context& context, const std::string& name) {
  plat::FindEntry entry;
  return context.os.files.FindFirst(name, entry) != nullptr;
}

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

SmallRead ReadSmallFile(Context& context, const std::string& name, std::string& text) {
  auto file = context.os.files.Open(name, plat::kRead, plat::kShareRead,
                                    plat::Disposition::kOpenExisting);
  if (!file) return SmallRead::kOpenFailed;
  char buffer[kPathCapacity + 1] = {};  // zero-filled, so the text always ends
  uint32_t got = 0;
  if (!file->Read(buffer, kPathCapacity, got) || buffer[0] == '\0') return SmallRead::kReadFailed;
  text = buffer;
  return SmallRead::kOk;
}

SmallWrite WriteSmallFile(Context& context, const std::string& name, const std::string& text) {
  auto file = context.os.files.Open(name, plat::kWrite, plat::kShareNone,
                                    plat::Disposition::kCreateAlways);
  if (!file) return SmallWrite::kNotCreated;
  uint32_t written = 0;
  bool whole = file->Write(text.data(), static_cast<uint32_t>(text.size()), written) &&
               written == text.size();
  return whole ? SmallWrite::kWritten : SmallWrite::kNotWritten;
}

bool LocalName(Context& context, const std::string& localFolder, const char* name,
               std::string& path) {
  path = localFolder + name;
  if (path.size() <= kPathCapacity) return true;
  ShowLauncherMessage(context, Format("Local file name too long (%s)", path.c_str()), kErrorStyle);
  return false;
}

}  // namespace launcher
