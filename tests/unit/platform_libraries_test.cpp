// Dynamic libraries and calls through them: shared objects of the C library,
// a library named by a Windows path, and the built-in KERNEL32.DLL.
#include <cstring>
#include <string>
#include <vector>

#include "support/call_arguments.h"
#include "support/support.h"

namespace {

using plat::CallArgument;
using plat::CallResult;
using support::Double;
using support::Float;
using support::Int;
using support::Pointer;

plat::Libraries& Libraries() { return plat::Native().libraries; }

// The stand-in library built beside the test program.
std::string StandinLibrary() {
  std::string tool = support::ToolPath("x");
  return tool.substr(0, tool.find_last_of('\\') + 1) + "libxl.dll";
}

class DynamicLibrariesTest : public support::TempFolderTest {
 protected:
  uint32_t Entry(const std::string& library, const std::string& name) {
    uint32_t handle = Libraries().Load(library);
    EXPECT_NE(handle, 0u) << library;
    uint32_t entry = Libraries().EntryPoint(handle, name);
    EXPECT_NE(entry, 0u) << name;
    return entry;
  }
  CallResult Call(uint32_t entry, const std::vector<CallArgument>& pushed, char result,
                  char convention = 'C') {
    CallResult returned;
    EXPECT_TRUE(Libraries().Call(entry, convention, pushed, result, returned));
    return returned;
  }
};

TEST_F(DynamicLibrariesTest, TheBuiltInKernel32WorksOnTheAttributeStore) {
  uint32_t kernel = Libraries().Load("KERNEL32.DLL");
  ASSERT_NE(kernel, 0u);
  EXPECT_EQ(Libraries().Load("kernel32"), kernel);
  EXPECT_EQ(Libraries().Loaded("Kernel32.dll"), kernel);
  uint32_t set = Libraries().EntryPoint(kernel, "SetFileAttributesA");
  uint32_t get = Libraries().EntryPoint(kernel, "GetFileAttributesA");
  ASSERT_NE(set, 0u);
  ASSERT_NE(get, 0u);
  EXPECT_EQ(Libraries().EntryPoint(kernel, "setfileattributesa"), 0u);
  EXPECT_EQ(plat::LastError(), plat::kErrorProcNotFound);

  std::string path = Root() + "marked.txt";
  support::WriteBytes(path, "x");
  // Standard calls push the last argument first: the path is pushed last.
  CallResult result = Call(set, {Int(plat::kAttrArchive | plat::kAttrReadOnly), Pointer(path.c_str())},
                           'L', 'S');
  EXPECT_EQ(result.integer, 1u);
  EXPECT_EQ(plat::Native().files.GetAttributes(path), plat::kAttrArchive | plat::kAttrReadOnly);
  EXPECT_EQ(Call(get, {Pointer(path.c_str())}, 'L', 'S').integer,
            plat::kAttrArchive | plat::kAttrReadOnly);

  std::string missing = Root() + "missing.txt";
  EXPECT_EQ(Call(set, {Int(plat::kAttrArchive), Pointer(missing.c_str())}, 'L', 'S').integer, 0u);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_TRUE(Libraries().Free(kernel));
  EXPECT_NE(Libraries().Loaded("KERNEL32.DLL"), 0u);
}

TEST_F(DynamicLibrariesTest, UnknownLibrariesAndEntriesFail) {
  EXPECT_EQ(Libraries().Load("no_such_library.dll"), 0u);
  EXPECT_EQ(plat::LastError(), plat::kErrorModNotFound);
  EXPECT_EQ(Libraries().Loaded("no_such_library.dll"), 0u);
  uint32_t kernel = Libraries().Load("KERNEL32.DLL");
  EXPECT_EQ(Libraries().EntryPoint(kernel, "NoSuchFunction"), 0u);
  EXPECT_EQ(plat::LastError(), plat::kErrorProcNotFound);
  CallResult returned;
  EXPECT_FALSE(Libraries().Call(0x7FFFFFFF, 'C', {}, 'I', returned));
}

TEST_F(DynamicLibrariesTest, ALibraryNamedByAWindowsPath) {
  std::string copy = Root() + "STANDIN.DLL";
  ASSERT_TRUE(plat::Native().files.Copy(StandinLibrary(), copy, false));
  uint32_t handle = Libraries().Load(copy);
  ASSERT_NE(handle, 0u);
  uint32_t version = Libraries().EntryPoint(handle, "StandinVersion");
  ASSERT_NE(version, 0u);
  EXPECT_EQ(Call(version, {}, 'I').integer, 1u);
  EXPECT_EQ(Libraries().Loaded(copy), handle);
  EXPECT_TRUE(Libraries().Free(handle));
}

#ifndef _WIN32
TEST_F(DynamicLibrariesTest, CallsIntoTheCLibraryWithEachKindOfValue) {
  const char* text = "hello, world";
  EXPECT_EQ(Call(Entry("libc.so.6", "strlen"), {Pointer(text)}, 'L').integer, 12u);
  EXPECT_EQ(static_cast<int32_t>(Call(Entry("libc.so.6", "abs"), {Int(-7)}, 'I').integer), 7);
  EXPECT_EQ(Call(Entry("libc.so.6", "toupper"), {Int('q')}, 'I').integer, static_cast<uintptr_t>('Q'));
  // A negative result comes back as the 32 bits of the integer register.
  EXPECT_EQ(Call(Entry("libc.so.6", "atoi"), {Pointer("-5")}, 'I').integer, 0xFFFFFFFBu);
  // The C view of the arguments is the reverse of the push order.
  EXPECT_DOUBLE_EQ(Call(Entry("libm.so.6", "pow"), {Double(10), Double(2)}, 'D').real, 1024.0);
  EXPECT_DOUBLE_EQ(Call(Entry("libm.so.6", "pow"), {Double(10), Double(2)}, 'D', 'P').real, 1024.0);
  EXPECT_FLOAT_EQ(static_cast<float>(
                      Call(Entry("libm.so.6", "sqrtf"), {Float(2.25f)}, 'F').real),
                  1.5f);
  CallResult found = Call(Entry("libc.so.6", "strchr"), {Int(','), Pointer(text)}, 'S');
  EXPECT_EQ(reinterpret_cast<const char*>(found.integer), text + 5);
  CallResult nothing = Call(Entry("libc.so.6", "srand"), {Int(1)}, 'V');
  EXPECT_EQ(nothing.integer, 0u);
  EXPECT_NE(Libraries().Loaded("libc.so.6"), 0u);
  EXPECT_EQ(Libraries().EntryPointByOrdinal(Libraries().Load("libc.so.6"), 1), 0u);
  EXPECT_EQ(plat::LastError(), plat::kErrorProcNotFound);
}
#endif

}  // namespace
