#include "launcher/relay.h"

#include <vector>

namespace launcher {

namespace {

constexpr char kErrorPrefix[] = "ERR:";
constexpr char kRunWord[] = "{RUN}";
constexpr uint32_t kStartMessage = 1084;      // queued by callers that wait for the start
constexpr size_t kMessageCapacity = 5119;     // a zero-filled buffer of 5,120 bytes
constexpr size_t kCommandCapacity = 259;      // a zero-filled buffer of 260 bytes
constexpr uint32_t kResponsePause = 1000;     // the caller polls for the response after this
constexpr uint32_t kAllSharing = plat::kShareRead | plat::kShareWrite | plat::kShareDelete;

std::unique_ptr<plat::File> OpenRequest(Context& context, const std::string& name,
                                        bool forWriting) {
  return context.os.files.Open(name, forWriting ? plat::kWrite : plat::kRead, kAllSharing,
                               forWriting ? plat::Disposition::kCreateAlways
                                          : plat::Disposition::kOpenExisting);
}

std::string StartRequestedProgram(Context& context, const std::string& command) {
  std::string program, parameters;
  if (!SplitRunCommand(command, program, parameters)) {
    return "Could not locate EXE in calling string";
  }
  uint32_t result = context.os.processes.ShellStart(context.os.ui.DesktopWindow(), "open", program,
                                                    parameters, kShowNormal);
  if (result > 32) return "OK";
  return Format("%ld (ShellExecute)", static_cast<long>(plat::LastError()));
}

void ServeRunRequest(Context& context, const std::string& byteCount,
                     const std::string& requestFile) {
  context.os.ui.RemoveQueuedMessage(kStartMessage);
  size_t count = ParseByteCount(byteCount, kCommandCapacity);
  std::string response;
  if (auto request = OpenRequest(context, requestFile, false)) {
    std::string command = ReadTextMode(*request, count);
    request.reset();
    response = StartRequestedProgram(context, command);
  } else {
    response = Format("%ld (fopen)", static_cast<long>(plat::LastError()));
  }
  context.os.clock.Sleep(kResponsePause);
  auto answer = OpenRequest(context, requestFile, true);
  if (!answer) {
    ShowLauncherMessage(context,
                        Format("#%lu - QZSTART.EXE failed to create response file (%s)",
                               static_cast<unsigned long>(plat::LastError()), requestFile.c_str()),
                        kErrorStyle);
    return;
  }
  uint32_t written = 0;
  answer->Write(response.data(), static_cast<uint32_t>(response.size()), written);
}

void ServeMessageFileRequest(Context& context, const std::string& byteCount,
                             const std::string& requestFile) {
  size_t count = ParseByteCount(byteCount, kMessageCapacity);
  if (auto request = OpenRequest(context, requestFile, false)) {
    std::string text = ReadTextMode(*request, count);
    request.reset();  // closed first, so that the delete below can succeed
    ShowLauncherMessage(context, text, kInformationStyle);
  }
  context.os.files.Delete(requestFile);
}

}  // namespace

bool SplitRunCommand(const std::string& command, std::string& program, std::string& parameters) {
  size_t extension = std::string::npos;
  for (const char* form : {".EXE", ".exe", ".Exe"}) {
    extension = command.find(form);
    if (extension != std::string::npos) break;
  }
  if (extension == std::string::npos) return false;
  program = command.substr(0, extension + 4);
  parameters = extension + 5 < command.size() ? command.substr(extension + 5) : "";
  return true;
}

size_t ParseByteCount(const std::string& text, size_t limit) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  size_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<size_t>(text[i] - '0');
    if (value > limit) value = limit + 1;  // keeps the sum from overflowing
  }
  if (negative) return 0;
  return value > limit ? limit : value;
}

std::string ReadTextMode(plat::File& file, size_t count) {
  // A character of text takes at most two bytes (CR LF), plus one to see
  // whether a final CR is followed by LF.
  if (count == 0) return {};
  std::vector<char> raw(count * 2 + 1);
  size_t got = 0;
  for (uint32_t part = 0; got < raw.size(); got += part) {
    if (!file.Read(raw.data() + got, static_cast<uint32_t>(raw.size() - got), part) || part == 0) {
      break;
    }
  }
  std::string text;
  for (size_t i = 0; i < got && text.size() < count; ++i) {
    char c = raw[i];
    if (c == '\x1A') break;
    if (c == '\r' && i + 1 < got && raw[i + 1] == '\n') continue;
    text += c;
  }
  return text;
}

void HandleMessageRequest(Context& context, const std::string& message) {
  if (message.compare(0, 4, kErrorPrefix) == 0) {
    ShowLauncherMessage(context, message.substr(4), kErrorStyle);
  } else {
    ShowLauncherMessage(context, message, kInformationStyle);
  }
}

void HandleRequestFile(Context& context, const std::string& passThrough,
                       const std::string& byteCount, const std::string& requestFile) {
  if (passThrough == kRunWord) {
    ServeRunRequest(context, byteCount, requestFile);
  } else {
    ServeMessageFileRequest(context, byteCount, requestFile);
  }
}

}  // namespace launcher
