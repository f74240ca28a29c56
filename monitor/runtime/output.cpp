#include "monitor/runtime/output.h"

#include <cstdio>

#include "monitor/runtime/error.h"
#include "monitor/runtime/internal.h"

namespace rt {

namespace internal {

void CloseAlternateFile() {
  State& state = S();
  if (!state.alternateFile) return;
  if (state.settings.eofMark) {
    uint32_t done;
    state.alternateFile->Write("\x1A", 1, done);
  }
  state.alternateFile.reset();
}

size_t FolderPartLength(std::string_view name) {
  size_t last = name.find_last_of("\\/:");
  return last == std::string_view::npos ? 0 : last + 1;
}

std::string TextForm(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kText:
      return value.Text();
    case Value::Kind::kNumber:
      return FormatNumber(value.AsNumber());
    case Value::Kind::kLogical:
      return value.Logical() ? ".T." : ".F.";
    case Value::Kind::kDate:
      return FormatDate(value.AsDate(), S().settings.dateFormat);
    case Value::Kind::kArray:
      return "{ Array }";
    case Value::Kind::kBlock:
      return "{||...}";
    case Value::Kind::kError:
      return "{ Error }";
    default:
      return "NIL";
  }
}

}  // namespace internal

using internal::S;

namespace {

constexpr int kCreateSubcode = 2013;
constexpr size_t kMaxAlternateName = 255;

// The name with ".txt" when it has no extension. A dot that leads the base
// name does not start an extension. A name without a folder stays relative
// to the current folder.
std::string CompleteName(const std::string& name) {
  size_t folderLength = internal::FolderPartLength(name);
  std::string folder = name.substr(0, folderLength);
  std::string rest = name.substr(folderLength);
  size_t dot = rest.rfind('.');
  std::string extension = ".txt";
  if (dot != std::string::npos && dot != 0) {
    extension = rest.substr(dot);
    rest.resize(dot);
  }
  return folder + rest + extension;
}

// Opens an existing file to continue it: positioned at its end, or over its
// last byte when that is the end mark.
std::unique_ptr<plat::File> OpenForAppend(const std::string& name) {
  std::unique_ptr<plat::File> file =
      Os().files.Open(name, plat::kReadWrite, plat::kShareRead, plat::Disposition::kOpenExisting);
  if (!file) return nullptr;
  uint64_t size = 0;
  file->Seek(0, plat::SeekOrigin::kEnd, &size);
  if (size > 0) {
    char last = 0;
    uint32_t done = 0;
    file->Seek(-1, plat::SeekOrigin::kEnd);
    bool markAtEnd = file->Read(&last, 1, done) && done == 1 && last == '\x1A';
    file->Seek(markAtEnd ? -1 : 0, plat::SeekOrigin::kEnd);
  }
  return file;
}

std::unique_ptr<plat::File> OpenAlternateFile(const std::string& name, bool append) {
  if (name.size() > kMaxAlternateName) {
    plat::SetLastError(plat::kErrorFilenameTooLong);
    return nullptr;
  }
  if (append && Os().files.GetAttributes(name) != plat::kInvalidAttributes) {
    return OpenForAppend(name);
  }
  return Os().files.Open(name, plat::kReadWrite, plat::kShareNone,
                         plat::Disposition::kCreateAlways);
}

// Opens the alternate file, asking the error handler what to do when it
// cannot be opened: a retry tries again; otherwise no file is open.
void ChangeAlternateFile(std::string name, bool append) {
  internal::CloseAlternateFile();
  if (name.empty()) return;
  std::string completed = CompleteName(name);
  for (;;) {
    std::unique_ptr<plat::File> file = OpenAlternateFile(completed, append);
    if (file) {
      S().alternateFile = std::move(file);
      return;
    }
    Error error;
    error.genCode = kCreateError;
    error.subCode = kCreateSubcode;
    error.subSystem = "TERM";
    error.osCode = plat::LastError();
    error.operation = completed;
    error.canRetry = true;
    error.canDefault = true;
    if (!Raise(std::move(error)).retry) return;
  }
}

// A logical, or a text beginning with "ON" in any letter case.
bool SwitchValue(const Value& value) {
  if (value.IsLogical()) return value.Logical();
  const std::string& text = value.Text();
  return text.size() >= 2 && (text[0] | 0x20) == 'o' && (text[1] | 0x20) == 'n';
}

Value CurrentSetting(int setting) {
  const internal::Settings& settings = S().settings;
  switch (setting) {
    case DATE_FORMAT:
      return settings.dateFormat;
    case CONSOLE_OUTPUT:
      return settings.consoleOutput;
    case ALTERNATE_OUTPUT:
      return settings.alternateOutput;
    case ALTERNATE_FILE:
      return settings.alternateName;
    case EOF_MARK:
      return settings.eofMark;
    default:
      return Value();
  }
}

void WriteToOutputs(const std::string& text) {
  internal::State& state = S();
  if (state.settings.consoleOutput) std::fwrite(text.data(), 1, text.size(), stdout);
  if (state.settings.alternateOutput && state.alternateFile) {
    uint32_t done;
    state.alternateFile->Write(text.data(), static_cast<uint32_t>(text.size()), done);
  }
}

}  // namespace

Value SET(int setting, Here caller) {
  Activation self("SET", caller);
  return CurrentSetting(setting);
}

Value SET(int setting, const Value& value, const Value& append, Here caller) {
  Activation self("SET", caller);
  Value previous = CurrentSetting(setting);
  internal::Settings& settings = S().settings;
  switch (setting) {
    case DATE_FORMAT:
      if (value.IsText()) settings.dateFormat = value.Text();
      break;
    case CONSOLE_OUTPUT:
      settings.consoleOutput = SwitchValue(value);
      break;
    case ALTERNATE_OUTPUT:
      settings.alternateOutput = SwitchValue(value);
      break;
    case EOF_MARK:
      settings.eofMark = SwitchValue(value);
      break;
    case ALTERNATE_FILE:
      settings.alternateName = value.Text();  // NIL and other kinds: no file
      ChangeAlternateFile(settings.alternateName, append.Logical());
      break;
    default:
      break;
  }
  return previous;
}

void QOUT(const Value& value, Here caller) {
  Activation self("QOUT", caller);
  WriteToOutputs("\r\n");
  WriteToOutputs(internal::TextForm(value));
}

void QOUT(std::initializer_list<Value> values, Here caller) {
  Activation self("QOUT", caller);
  WriteToOutputs("\r\n");
  bool first = true;
  for (const Value& value : values) {
    if (!first) WriteToOutputs(" ");
    first = false;
    WriteToOutputs(internal::TextForm(value));
  }
}

}  // namespace rt
