// Dynamic library calls: type lists, binding, and real calls into the C
// library (libc and libm on POSIX, msvcrt and ucrtbase on Windows) and into
// KERNEL32 with every type code and convention.
#include "runtime_fixture.h"

namespace runtime_test {
namespace {

using rt::Value;

#ifdef _WIN32
constexpr char kCLibrary[] = "msvcrt.dll";
constexpr char kMathLibrary[] = "msvcrt.dll";
constexpr char kFloatLibrary[] = "ucrtbase.dll";
constexpr char kFloatFunction[] = "_chgsignf";  // -x: a float in, a float out
constexpr float kFloatSign = -1;
#else
constexpr char kCLibrary[] = "libc.so.6";
constexpr char kMathLibrary[] = "libm.so.6";
constexpr char kFloatLibrary[] = "libm.so.6";
constexpr char kFloatFunction[] = "fabsf";
constexpr float kFloatSign = 1;
#endif

class LibrariesTest : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    clib = rt::LOADLIBRARY(kCLibrary);
    ASSERT_NE(clib, Value(0));
  }

  // Binds a function of the C library.
  Value C(const char* name, const char* result, const char* arguments,
          const char* convention = "C") {
    Value bound = rt::GETPROCADDRESS(clib, name, convention, result, arguments);
    EXPECT_TRUE(bound.IsText()) << name;
    return bound;
  }

  Value clib;
};

TEST_F(LibrariesTest, TypeListsBecomeCodes) {
  struct Case {
    const char* list;
    Value codes;
  };
  const Case cases[] = {
      {"BOOL", "B"},
      {" bool ", "B"},
      {"LPCSTR,DWORD", "SL"},
      {"LPCSTR, DWORD", "SL"},
      {"long[3]", "LLL"},
      {"long [ 2 ] ,int", "LLI"},
      {"long[3", rt::NIL},
      {"long,,long", "LL"},
      {"", ""},
      {",", ""},
      {"[4]", ""},
      {"long[0]", ""},
      {"a", "U"},        // atom comes before any
      {"lp", "S"},       // lpstr
      {"h", "U"},        // handle
      {"char", "S"},     // character
      {"char *", "S"},
      {"char**", "*"},
      {"void", "V"},
      {"void*", "S"},
      {"integer,integerx", rt::NIL},
      {"int,unknown", rt::NIL},
      {"long[100000]", rt::NIL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rt::TOTYPES(c.list), c.codes) << c.list;
  }
  EXPECT_TRUE(rt::TOTYPES(rt::NIL).IsNil());
}

TEST_F(LibrariesTest, ConventionsAndTypesMakeTheBoundFunction) {
  // The four address bytes, least significant first, then the letters.
  Value standard = rt::GETPROCADDRESS(clib, "strlen", rt::NIL, "BOOL", "LPCSTR,DWORD");
  ASSERT_EQ(standard.Text().size(), 8u);
  EXPECT_EQ(standard.Text().substr(4), "SBSL");
  uint32_t entry = 0;
  for (int i = 3; i >= 0; --i) entry = entry << 8 | static_cast<unsigned char>(standard.Text()[i]);
  EXPECT_NE(entry, 0u);
  EXPECT_EQ(rt::CALLDLL(rt::Value(standard.Text().substr(0, 4) + "CISV"), {"four"}), Value(4));

  auto letters = [this](const Value& convention, const Value& result, const Value& arguments) {
    Value bound = rt::GETPROCADDRESS(clib, "strlen", convention, result, arguments);
    return bound.IsText() ? Value(bound.Text().substr(4)) : bound;
  };
  EXPECT_EQ(letters("standard", " bool ", "lpcstr, dword"), Value("SBSL"));
  EXPECT_EQ(letters("", "Bool", "LPCSTR ,DWORD"), Value("SBSL"));
  EXPECT_EQ(letters("s", "BOOL", "LPCSTR,DWORD"), Value("SBSL"));
  EXPECT_EQ(letters("c", "int", "ptr"), Value("CIS"));
  EXPECT_EQ(letters("pas", "int", "ptr"), Value("PIS"));
  EXPECT_EQ(letters("PASCAL", "int", "ptr"), Value("PIS"));
  for (const Value& unknown : {Value("X"), Value("CC"), Value("STANDARDS"), Value(1)}) {
    EXPECT_TRUE(letters(unknown, "int", "ptr").IsNil());
  }
  // No types at all: 7 bytes ending in "V" and "V".
  EXPECT_EQ(letters(rt::NIL, rt::NIL, rt::NIL), Value("SVV"));
  EXPECT_TRUE(letters(rt::NIL, "BOOL", "LPCSTR,FLOOP").IsNil());
  EXPECT_TRUE(letters(rt::NIL, "BOOLEANS", rt::NIL).IsNil());
  EXPECT_TRUE(rt::GETPROCADDRESS(clib, "no_such_function_here", rt::NIL, "BOOL").IsNil());
  EXPECT_TRUE(rt::GETPROCADDRESS(clib, std::string(128, 'x'), rt::NIL, "BOOL").IsNil());
}

TEST_F(LibrariesTest, LoadingAMissingLibraryGivesZero) {
  EXPECT_EQ(rt::LOADLIBRARY("no-such-library.dll"), Value(0));
  EXPECT_EQ(rt::LOADLIBRARY(rt::NIL), Value(0));
  Value math = rt::LOADLIBRARY(kMathLibrary);
  EXPECT_NE(math, Value(0));
  rt::FREELIBRARY(math);
}

TEST_F(LibrariesTest, IntegerTextAndLogicalCodes) {
  EXPECT_EQ(rt::CALLDLL(C("strlen", "INT", "LPSTR"), {"hello"}), Value(5));
  EXPECT_EQ(rt::CALLDLL(C("abs", "LONG", "LONG"), {-7}), Value(7));
  EXPECT_EQ(rt::CALLDLL(C("abs", "UINT", "INTEGER"), {-7.9}), Value(7));  // the fraction is cut
  EXPECT_EQ(rt::CALLDLL(C("toupper", "INT", "INT"), {'a'}), Value('A'));
  // The 32-bit result read as signed, and its low 16 bits both ways.
  EXPECT_EQ(rt::CALLDLL(C("abs", "DWORD", "LONG"), {-2147483647 - 1}), Value(-2147483647 - 1));
  EXPECT_EQ(rt::CALLDLL(C("abs", "SHORT", "LONG"), {0x18000}), Value(-32768));
  EXPECT_EQ(rt::CALLDLL(C("abs", "WORD", "LONG"), {0x18000}), Value(32768));
  EXPECT_EQ(rt::CALLDLL(C("abs", "SHORT", "LONG"), {0x1FFFF}), Value(-1));
  EXPECT_EQ(rt::CALLDLL(C("abs", "WORD", "LONG"), {0x1FFFF}), Value(65535));
  EXPECT_EQ(rt::CALLDLL(C("abs", "SHORT", "LONG"), {0x7FFF}), Value(32767));
  // A text result is copied; a null address gives the empty text.
  EXPECT_EQ(rt::CALLDLL(C("strchr", "STRING", "STRING,INT"), {"hello", 'l'}), Value("llo"));
  EXPECT_EQ(rt::CALLDLL(C("strchr", "STRING", "STRING,INT"), {"hello", 'z'}), Value(""));
  // Logicals: an argument is 1 for true or a non-zero number; a result is true when not 0.
  Value absOfLogical = C("abs", "INT", "LOGICAL");
  EXPECT_EQ(rt::CALLDLL(absOfLogical, {true}), Value(1));
  EXPECT_EQ(rt::CALLDLL(absOfLogical, {-3}), Value(1));
  EXPECT_EQ(rt::CALLDLL(absOfLogical, {false}), Value(0));
  EXPECT_EQ(rt::CALLDLL(absOfLogical, {"yes"}), Value(0));
  EXPECT_EQ(rt::CALLDLL(C("abs", "BOOL", "INT"), {-3}), Value(true));
  EXPECT_EQ(rt::CALLDLL(C("abs", "BOOL", "INT"), {0}), Value(false));
  // The whole register counts: 256 is true, though its low byte is 0.
  std::string tool = support::ToolPath("x");
  Value standin = rt::LOADLIBRARY(tool.substr(0, tool.find_last_of('\\') + 1) + "libxl.dll");
  ASSERT_NE(standin, Value(0));
  EXPECT_EQ(rt::CALLDLL(rt::GETPROCADDRESS(standin, "StandinWideTrue", "C", "BOOL")), Value(true));
  rt::FREELIBRARY(standin);
}

TEST_F(LibrariesTest, FloatingCodes) {
  Value math = rt::LOADLIBRARY(kMathLibrary);
  Value pow = rt::GETPROCADDRESS(math, "pow", "C", "DOUBLE", "DOUBLE,DOUBLE");
  EXPECT_EQ(rt::CALLDLL(pow, {2, 10}), Value(1024));
  EXPECT_EQ(rt::CALLDLL(pow, {2.5, 2}), Value(6.25));
  Value floats = rt::LOADLIBRARY(kFloatLibrary);
  ASSERT_NE(floats, Value(0));
  Value single = rt::GETPROCADDRESS(floats, kFloatFunction, "C", "FLOAT", "FLOAT");
  ASSERT_TRUE(single.IsText());
  EXPECT_EQ(rt::CALLDLL(single, {-2.5}), Value(2.5));
  // The float comes back widened, not rounded to a double's digits.
  EXPECT_EQ(rt::CALLDLL(single, {0.1}).AsDouble(), static_cast<double>(kFloatSign * 0.1f));
}

TEST_F(LibrariesTest, MissingArgumentsAreZeroAndExtraOnesIgnored) {
  EXPECT_EQ(rt::CALLDLL(C("abs", "INT", "INT")), Value(0));
  EXPECT_EQ(rt::CALLDLL(C("abs", "INT", "INT"), {-3, 99, "more"}), Value(3));
  Value math = rt::LOADLIBRARY(kMathLibrary);
  Value pow = rt::GETPROCADDRESS(math, "pow", "C", "DOUBLE", "DOUBLE,DOUBLE");
  EXPECT_EQ(rt::CALLDLL(pow, {3}), Value(1));  // pow(3, 0)
  // A missing text is a null address: time(NULL) only reads the clock.
  EXPECT_GT(rt::CALLDLL(C("time", "LONG", "LPVOID")).AsDouble(), 1.6e9);
  EXPECT_GT(rt::CALLDLL(C("time", "LONG", "LPVOID"), {7}).AsDouble(), 1.6e9);  // not a text
}

TEST_F(LibrariesTest, PascalPushesTheFirstArgumentFirst) {
  // The callee sees the arguments in reverse: pow(10, 2).
  Value math = rt::LOADLIBRARY(kMathLibrary);
  Value pow = rt::GETPROCADDRESS(math, "pow", "PASCAL", "DOUBLE", "DOUBLE,DOUBLE");
  EXPECT_EQ(rt::CALLDLL(pow, {2, 10}), Value(100));
}

TEST_F(LibrariesTest, VoidCallsAndNoCalls) {
  // "V": the call is made and gives NIL. srand(seed) then decides rand().
  Value srand = C("srand", "VOID", "UINT");
  Value rand = C("rand", "INT", "");
  EXPECT_TRUE(rt::CALLDLL(srand, {7}).IsNil());
  Value first = rt::CALLDLL(rand);
  rt::CALLDLL(srand, {7});
  EXPECT_EQ(rt::CALLDLL(rand), first);
  // No types: the 7-byte function is called with nothing.
  EXPECT_TRUE(rt::CALLDLL(rt::GETPROCADDRESS(clib, "rand")).IsNil());

  // "X" results, pointer arrays and texts not made by GETPROCADDRESS make no call.
  rt::CALLDLL(srand, {7});
  EXPECT_TRUE(rt::CALLDLL(C("srand", "ANY", "UINT"), {8}).IsNil());
  EXPECT_TRUE(rt::CALLDLL(C("srand", "VOID", "CHAR**"), {"x"}).IsNil());
  EXPECT_TRUE(rt::CALLDLL(C("srand", "CHAR**", "UINT"), {8}).IsNil());
  EXPECT_EQ(rt::CALLDLL(rand), first);
  EXPECT_TRUE(rt::CALLDLL(rt::NIL, {1}).IsNil());
  EXPECT_TRUE(rt::CALLDLL("abcSV", {1}).IsNil());
  rt::CALLDLL(srand, {7});
  Value forged = C("srand", "VOID", "UINT").Text().substr(0, 6) + "Q";
  EXPECT_TRUE(rt::CALLDLL(forged, {8}).IsNil());
  EXPECT_EQ(rt::CALLDLL(rand), first);
}

// SetFileAttributesA of KERNEL32, as the monitor binds it: the platform's own
// on Windows, the built-in one over the attribute store on POSIX.
class SetFileAttributesTest : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    kernel = rt::LOADLIBRARY("KERNEL32.DLL");
    ASSERT_NE(kernel, Value(0));
    bound = rt::GETPROCADDRESS(kernel, "SetFileAttributesA", rt::NIL, "BOOL", "LPCSTR,DWORD");
    ASSERT_EQ(bound.Text().size(), 8u);
    ASSERT_EQ(bound.Text().substr(4), "SBSL");
  }
  void TearDown() override {
    rt::FREELIBRARY(kernel);
    RuntimeTest::TearDown();
  }
  Value kernel, bound;
};

TEST_F(SetFileAttributesTest, GivesAFileTheArchiveAttributeAlone) {
  support::WriteBytes("hidden.txt", "x");
  ASSERT_TRUE(
      test.platform.files.SetAttributes("hidden.txt", plat::kAttrHidden | plat::kAttrSystem));
  EXPECT_EQ(rt::CALLDLL(bound, {"hidden.txt", 32}), Value(true));
  EXPECT_EQ(test.platform.files.GetAttributes("hidden.txt"), plat::kAttrArchive);
  EXPECT_EQ(rt::CALLDLL(bound, {"missing.txt", 32}), Value(false));
}

TEST_F(SetFileAttributesTest, MarksAFileThatLacksTheArchiveAttribute) {
  if (!support::ArchiveAttributeCanBeCleared()) {
    GTEST_SKIP() << "this platform never clears the archive attribute";
  }
  support::WriteBytes("taken.txt", "x");
  ASSERT_TRUE(test.platform.files.SetAttributes("taken.txt", plat::kAttrNormal));
  ASSERT_EQ(test.platform.files.GetAttributes("taken.txt") & plat::kAttrArchive, 0u);
  EXPECT_EQ(rt::CALLDLL(bound, {"taken.txt", 32}), Value(true));
  EXPECT_EQ(test.platform.files.GetAttributes("taken.txt"), plat::kAttrArchive);
}

TEST_F(SetFileAttributesTest, IsFoundAmongTheSystemLibraries) {
  EXPECT_NE(rt::PROCADDRESS(rt::NIL, "SetFileAttributesA"), Value(0));
  EXPECT_EQ(rt::PROCADDRESS(rt::NIL, "NoSuchFunctionAnywhere"), Value(0));
  EXPECT_EQ(rt::PROCADDRESS(rt::NIL, rt::NIL), Value(0));
  Value searched =
      rt::GETPROCADDRESS(rt::NIL, "SetFileAttributesA", rt::NIL, "BOOL", "LPCSTR,DWORD");
  ASSERT_TRUE(searched.IsText());
  EXPECT_EQ(searched.Text().substr(4), "SBSL");
  support::WriteBytes("found.txt", "x");
  test.platform.files.SetAttributes("found.txt", plat::kAttrHidden);
  EXPECT_EQ(rt::CALLDLL(searched, {"found.txt", 32}), Value(true));
  EXPECT_EQ(test.platform.files.GetAttributes("found.txt"), plat::kAttrArchive);
}

#ifdef _WIN32
// The standard convention: the callee removes the arguments.
TEST_F(SetFileAttributesTest, StandardCallsIntoKernel32) {
  Value lstrlen = rt::GETPROCADDRESS(kernel, "lstrlenA", rt::NIL, "INT", "LPCSTR");
  EXPECT_EQ(rt::CALLDLL(lstrlen, {"abc"}), Value(3));
  Value mulDiv = rt::GETPROCADDRESS(kernel, "MulDiv", "S", "INT", "INT,INT,INT");
  EXPECT_EQ(rt::CALLDLL(mulDiv, {100, 3, 4}), Value(75));
  EXPECT_EQ(rt::CALLDLL(mulDiv, {100, 3}), Value(-1));  // divided by a missing 0
  // Pascal order on a standard function: MulDiv(4, 3, 100).
  Value reversed = rt::GETPROCADDRESS(kernel, "MulDiv", "P", "INT", "INT,INT,INT");
  EXPECT_EQ(rt::CALLDLL(reversed, {100, 3, 4}), Value(0));
  // Many calls in a row leave the stack as it was.
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(rt::CALLDLL(mulDiv, {i, 2, 1}), Value(2 * i));
}
#endif

}  // namespace
}  // namespace runtime_test
