#include "monitor/runtime/dll.h"

#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "monitor/runtime/internal.h"

namespace rt {

namespace {

struct TypeKeyword {
  const char* keyword;
  char code;
};

// Searched from the top: an item names the first keyword that it begins.
constexpr TypeKeyword kTypeKeywords[] = {
    {"integer", 'I'},   {"word", 'W'},     {"short", 'H'},    {"ushort", 'W'},
    {"uint", 'U'},      {"handle", 'U'},   {"hwnd", 'U'},     {"hinstance", 'U'},
    {"hdc", 'U'},       {"hmenu", 'U'},    {"htask", 'U'},    {"hbitmap", 'U'},
    {"hicon", 'U'},     {"hbrush", 'U'},   {"hpen", 'U'},     {"hcursor", 'U'},
    {"hfont", 'U'},     {"hmodule", 'U'},  {"hrgn", 'U'},     {"hpalette", 'U'},
    {"atom", 'U'},      {"byte", 'I'},     {"long", 'L'},     {"ulong", 'L'},
    {"dword", 'L'},     {"colorref", 'L'}, {"hhook", 'L'},    {"float", 'F'},
    {"real", 'F'},      {"double", 'D'},   {"logical", 'B'},  {"boolean", 'B'},
    {"any", 'X'},       {"void", 'V'},     {"nil", 'V'},      {"none", 'V'},
    {"character", 'S'}, {"char*", 'S'},    {"string", 'S'},   {"psz", 'S'},
    {"ptr", 'S'},       {"lpstr", 'S'},    {"lpcstr", 'S'},   {"lpvoid", 'S'},
    {"void*", 'S'},     {"char**", '*'},   {"void**", '*'},   {"str*", '*'},
    {"string*", '*'},   {"lpstr*", '*'},   {"lpcstr*", '*'},
};

// More type codes than a call could sensibly push ("long[100000000]") are
// refused rather than built.
constexpr size_t kMaxTypeCodes = 255;

constexpr size_t kMaxEntryPointName = 127;

// The libraries searched for an entry point when no library is given.
constexpr const char* kSystemLibraries[] = {"USER32.DLL",   "GDI32.DLL",   "KERNEL32.DLL",
                                            "COMDLG32.DLL", "SHELL32.DLL", "VERSION.DLL",
                                            "LZ32.DLL"};

// Result codes for which a call is made.
constexpr std::string_view kCallingResults = "BDFHILSUVW";

// A bound function: 4 address bytes, the convention, the result code, and at
// least one argument code.
constexpr size_t kBoundHeader = 6;
constexpr size_t kMinBoundLength = 7;

char KeywordCode(std::string_view item) {
  for (const TypeKeyword& entry : kTypeKeywords) {
    std::string_view keyword = entry.keyword;
    if (item.size() <= keyword.size() && keyword.compare(0, item.size(), item) == 0) {
      return entry.code;
    }
  }
  return 0;
}

// The codes of a type list, or false.
bool TypeCodes(const std::string& list, std::string& codes) {
  std::string rest;
  for (char c : list) {
    if (c != ' ') rest += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  std::string_view remaining = rest;
  while (!remaining.empty()) {
    size_t comma = remaining.find(',');
    std::string_view item = remaining.substr(0, comma);
    remaining = comma == std::string_view::npos ? std::string_view() : remaining.substr(comma + 1);
    double repeat = 1;
    size_t bracket = item.find('[');
    if (bracket != std::string_view::npos) {
      if (item.back() != ']') return false;
      repeat = std::trunc(internal::ParseNumber(item.substr(bracket + 1)).value);
      item = item.substr(0, bracket);
    }
    if (item.empty()) continue;
    char code = KeywordCode(item);
    if (code == 0) return false;
    if (repeat > static_cast<double>(kMaxTypeCodes - codes.size())) return false;
    if (repeat > 0) codes.append(static_cast<size_t>(repeat), code);
  }
  return true;
}

// The convention letter of a convention name, or 0.
char ConventionLetter(const Value& convention) {
  if (!convention.IsNil() && !convention.IsText()) return 0;
  std::string name = convention.Text();
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  auto leadingPartOf = [&name](std::string_view word) {
    return name.size() <= word.size() && word.compare(0, name.size(), name) == 0;
  };
  if (name == "C") return 'C';
  if (leadingPartOf("STANDARD")) return 'S';
  if (leadingPartOf("PASCAL")) return 'P';
  return 0;
}

uint32_t EntryPointIn(uint32_t library, const Value& name) {
  plat::Libraries& libraries = Os().libraries;
  if (name.IsNumber()) {
    return libraries.EntryPointByOrdinal(library, static_cast<uint16_t>(ToInt32(name)));
  }
  return libraries.EntryPoint(library, name.Text());
}

uint32_t FindEntryPoint(const Value& library, const Value& name) {
  if (!name.IsNumber() && (!name.IsText() || name.Text().size() > kMaxEntryPointName)) return 0;
  if (!library.IsNil()) return EntryPointIn(static_cast<uint32_t>(ToInt32(library)), name);
  plat::Libraries& libraries = Os().libraries;
  for (const char* system : kSystemLibraries) {
    if (uint32_t loaded = libraries.Loaded(system)) {
      if (uint32_t entry = EntryPointIn(loaded, name)) return entry;
      continue;
    }
    uint32_t handle = libraries.Load(system);
    if (handle == 0) continue;
    if (uint32_t entry = EntryPointIn(handle, name)) return entry;
    libraries.Free(handle);
  }
  return 0;
}

// One argument as its type code passes it; false for a code that passes
// nothing. A text argument points at its copy in `texts`.
bool Marshal(char code, const Value* argument, std::vector<std::string>& texts,
             plat::CallArgument& out) {
  using Kind = plat::CallArgument::Kind;
  static const Value kMissing;
  const Value& value = argument ? *argument : kMissing;
  switch (code) {
    case 'I':
    case 'H':
    case 'W':
    case 'U':
    case 'L':
      out = {Kind::kInt32, static_cast<uint32_t>(ToInt32(value)), nullptr, 0};
      return true;
    case 'B': {
      bool set = value.IsLogical() ? value.Logical() : value.IsNumber() && value.AsDouble() != 0;
      out = {Kind::kInt32, set ? 1u : 0u, nullptr, 0};
      return true;
    }
    case 'S':
      out = {Kind::kPointer, 0, nullptr, 0};
      if (value.IsText()) {
        texts.push_back(value.Text());
        out.pointer = texts.back().c_str();
      }
      return true;
    case 'D':
      out = {Kind::kDouble, 0, nullptr, value.AsDouble()};
      return true;
    case 'F':
      out = {Kind::kFloat, 0, nullptr, value.AsDouble()};
      return true;
    default:  // 'V' and 'X'
      return false;
  }
}

Value ConvertResult(char code, const plat::CallResult& returned) {
  uint32_t bits = static_cast<uint32_t>(returned.integer);
  switch (code) {
    case 'I':
    case 'U':
    case 'L':
      return static_cast<int32_t>(bits);
    case 'H':
      return static_cast<int16_t>(bits & 0xFFFF);
    case 'W':
      return static_cast<uint16_t>(bits & 0xFFFF);
    case 'B':
      return bits != 0;
    case 'S': {
      const char* text = reinterpret_cast<const char*>(returned.integer);
      return text ? Value(std::string(text)) : Value("");
    }
    case 'D':
      return returned.real;
    case 'F':
      return static_cast<double>(static_cast<float>(returned.real));
    default:
      return Value();
  }
}

}  // namespace

Value LOADLIBRARY(const Value& name, Here caller) {
  Activation self("LOADLIBRARY", caller);
  if (!name.IsText()) return 0;
  return static_cast<int32_t>(Os().libraries.Load(name.Text()));
}

void FREELIBRARY(const Value& handle, Here caller) {
  Activation self("FREELIBRARY", caller);
  Os().libraries.Free(static_cast<uint32_t>(ToInt32(handle)));
}

Value TOTYPES(const Value& typeList, Here caller) {
  Activation self("TOTYPES", caller);
  std::string codes;
  if (!typeList.IsText() || !TypeCodes(typeList.Text(), codes)) return Value();
  return codes;
}

Value PROCADDRESS(const Value& library, const Value& name, Here caller) {
  Activation self("_GETPROCADDRESS", caller);
  return FindEntryPoint(library, name);
}

Value GETPROCADDRESS(const Value& library, const Value& name, const Value& convention,
                     const Value& resultType, const Value& argumentTypes, Here caller) {
  Activation self("GETPROCADDRESS", caller);
  char letter = ConventionLetter(convention);
  if (letter == 0) return Value();
  auto typeList = [](const Value& types) {
    return types.IsNil() || (types.IsText() && types.Text().empty()) ? std::string("void")
                                                                     : types.Text();
  };
  std::string resultCodes, argumentCodes;
  if (!resultType.IsNil() && !resultType.IsText()) return Value();
  if (!argumentTypes.IsNil() && !argumentTypes.IsText()) return Value();
  if (!TypeCodes(typeList(resultType), resultCodes)) return Value();
  if (!TypeCodes(typeList(argumentTypes), argumentCodes)) return Value();
  uint32_t entry = FindEntryPoint(library, name);
  if (entry == 0) return Value();
  std::string bound;
  for (int shift = 0; shift < 32; shift += 8) bound += static_cast<char>((entry >> shift) & 0xFF);
  return bound + letter + resultCodes + argumentCodes;
}

Value CALLDLL(const Value& function, std::initializer_list<Value> arguments, Here caller) {
  Activation self("CALLDLL", caller);
  if (!function.IsText() || function.Text().size() < kMinBoundLength) return Value();
  const std::string& bound = function.Text();
  uint32_t entry = 0;
  for (int i = 3; i >= 0; --i) entry = entry << 8 | static_cast<unsigned char>(bound[i]);
  char convention = bound[4];
  char result = bound[5];
  std::string_view codes = std::string_view(bound).substr(kBoundHeader);
  if (convention != 'C' && convention != 'S' && convention != 'P') return Value();
  if (kCallingResults.find(result) == std::string_view::npos) return Value();
  if (codes.find_first_not_of("IHWULBSDFVX") != std::string_view::npos) return Value();

  // The standard and C conventions push the last argument first, Pascal the first.
  std::vector<std::string> texts;
  texts.reserve(codes.size());  // the pointers into it must stay valid
  std::vector<plat::CallArgument> pushed;
  pushed.reserve(codes.size());
  for (size_t step = 0; step < codes.size(); ++step) {
    size_t position = convention == 'P' ? step : codes.size() - 1 - step;
    const Value* argument = position < arguments.size() ? arguments.begin() + position : nullptr;
    plat::CallArgument marshaled;
    if (Marshal(codes[position], argument, texts, marshaled)) pushed.push_back(marshaled);
  }
  plat::CallResult returned;
  if (!Os().libraries.Call(entry, convention, pushed, result, returned)) return Value();
  return ConvertResult(result, returned);
}

}  // namespace rt
