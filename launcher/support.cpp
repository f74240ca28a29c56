#include "launcher/support.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace launcher {

namespace {

constexpr char kUserAccountFile[] = "SYSTEM\\LSAUSER.SYS";
constexpr char kMessageLog[] = "LASTMSG.LOG";
constexpr size_t kReportCapacity = 255;  // a 256-character message buffer

// True when the logged-on user is the account named in SYSTEM\LSAUSER.SYS,
// whose messages go to LASTMSG.LOG instead of the screen.
bool MessagesAreLogged(Context& context) {
  if (!FileExists(context, kUserAccountFile)) return false;
  std::string user;
  if (!context.os.system.NetworkUserName(user) || user.empty()) return false;
  std::string account;
  return ReadSmallFile(context, kUserAccountFile, account) == SmallRead::kOk && account == user;
}

}  // namespace

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
