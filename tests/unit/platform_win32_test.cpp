// What only the Windows build has: the call thunk, lookup by ordinal,
// the registry and the thread's message queue. The facets that both builds
// share are tested by the other platform rooms, on both platforms.
#ifdef _WIN32

#include <cmath>
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

class CallTest : public ::testing::Test {
 protected:
  // The entry point `name` of `library`, which is loaded for it.
  uint32_t Entry(const std::string& library, const std::string& name) {
    uint32_t module = libraries.Load(library);
    EXPECT_NE(module, 0u) << library;
    uint32_t entry = libraries.EntryPoint(module, name);
    EXPECT_NE(entry, 0u) << library << " " << name;
    return entry;
  }

  // Calls and returns the integer result; arguments in the order they are pushed.
  uintptr_t CallInteger(uint32_t entry, char convention, const std::vector<CallArgument>& pushed) {
    CallResult result;
    EXPECT_TRUE(libraries.Call(entry, convention, pushed, 'I', result));
    return result.integer;
  }

  double CallReal(uint32_t entry, const std::vector<CallArgument>& pushed) {
    CallResult result;
    EXPECT_TRUE(libraries.Call(entry, 'C', pushed, 'D', result));
    return result.real;
  }

  plat::Libraries& libraries = plat::Native().libraries;
};

TEST_F(CallTest, ArgumentsArePushedInTheGivenOrder) {
  uint32_t mulDiv = Entry("KERNEL32.DLL", "MulDiv");
  // MulDiv(100, 3, 4) under the standard convention: the last argument first.
  EXPECT_EQ(CallInteger(mulDiv, 'S', {Int(4), Int(3), Int(100)}), 75u);
  // The Pascal order reaches the same function as MulDiv(4, 3, 100).
  EXPECT_EQ(CallInteger(mulDiv, 'P', {Int(100), Int(3), Int(4)}), 0u);
  EXPECT_EQ(static_cast<int32_t>(CallInteger(mulDiv, 'S', {Int(2), Int(-7), Int(6)})), -21);
}

TEST_F(CallTest, CCallMixesIntegersTextsAndDoubles) {
  uint32_t sprintf = Entry("msvcrt.dll", "sprintf");
  std::string buffer(64, '\0');
  const char* format = "%d|%s|%.3f|%u";
  uintptr_t length = CallInteger(
      sprintf, 'C',
      {Int(7), Double(-2.5), Pointer("abc"), Int(42), Pointer(format), Pointer(buffer.data())});
  EXPECT_STREQ(buffer.c_str(), "42|abc|-2.500|7");
  EXPECT_EQ(length, 15u);
}

TEST_F(CallTest, FloatingResultsComeFromTheFloatingRegister) {
  uint32_t pow = Entry("msvcrt.dll", "pow");
  EXPECT_EQ(CallReal(pow, {Double(10), Double(2)}), 1024.0);
  EXPECT_EQ(CallReal(pow, {Double(0.5), Double(9)}), 3.0);
  uint32_t atof = Entry("msvcrt.dll", "atof");
  EXPECT_EQ(CallReal(atof, {Pointer("-0.125")}), -0.125);
}

TEST_F(CallTest, FloatIsPushedAsOneWord) {
  uint32_t createDc = Entry("GDI32.DLL", "CreateCompatibleDC");
  uint32_t setMiterLimit = Entry("GDI32.DLL", "SetMiterLimit");
  uint32_t deleteDc = Entry("GDI32.DLL", "DeleteDC");
  uintptr_t dc = CallInteger(createDc, 'S', {Int(0)});
  ASSERT_NE(dc, 0u);
  float previous = 0;
  EXPECT_NE(CallInteger(setMiterLimit, 'S', {Pointer(nullptr), Float(7.5f), Int(dc)}), 0u);
  EXPECT_NE(CallInteger(setMiterLimit, 'S', {Pointer(&previous), Float(3.0f), Int(dc)}), 0u);
  EXPECT_EQ(previous, 7.5f);
  CallInteger(deleteDc, 'S', {Int(dc)});
}

// A function bound with the wrong convention leaves the stack as it was:
// without the saved stack pointer, each of these calls would shift it by the
// size of the arguments and the test would soon crash.
TEST_F(CallTest, WrongConventionLeavesTheStackIntact) {
  uint32_t mulDiv = Entry("KERNEL32.DLL", "MulDiv");
  uint32_t sprintf = Entry("msvcrt.dll", "sprintf");
  volatile uint32_t canary = 0x5EED5EED;
  std::string buffer(16, '\0');
  for (int i = 0; i < 10000; ++i) {
    ASSERT_EQ(CallInteger(mulDiv, 'C', {Int(1), Int(i), Int(3)}), static_cast<uintptr_t>(3 * i));
    ASSERT_EQ(CallInteger(sprintf, 'S', {Int(i), Pointer("%d"), Pointer(buffer.data())}),
              std::to_string(i).size());
  }
  EXPECT_EQ(canary, 0x5EED5EEDu);
  EXPECT_EQ(buffer.c_str(), std::to_string(9999));
}

// A floating result that is not collected must not stay on the x87 stack:
// after eight such calls the program's own floating arithmetic would fail.
TEST_F(CallTest, UncollectedFloatingResultsDoNotFillTheFloatingStack) {
  uint32_t pow = Entry("msvcrt.dll", "pow");
  CallResult result;
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(libraries.Call(pow, 'C', {Double(3), Double(2)}, 'I', result));
    ASSERT_TRUE(libraries.Call(pow, 'C', {Double(3), Double(2)}, 'V', result));
  }
  EXPECT_EQ(result.integer, 0u);
  EXPECT_EQ(result.real, 0.0);
  volatile double two = 2;
  EXPECT_EQ(std::sqrt(two * 8), 4.0);
  EXPECT_EQ(CallReal(pow, {Double(3), Double(2)}), 8.0);
}

TEST_F(CallTest, AddressOutsideEveryModuleIsNotCalled) {
  std::vector<char> heap(16);
  CallResult result;
  EXPECT_FALSE(libraries.Call(0, 'S', {}, 'I', result));
  EXPECT_FALSE(libraries.Call(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(heap.data())), 'S',
                              {}, 'I', result));
  EXPECT_EQ(plat::LastError(), plat::kErrorProcNotFound);
}

TEST(LibrariesTest, OrdinalFindsTheSameEntryAsTheName) {
  plat::Libraries& libraries = plat::Native().libraries;
  // The sockets library keeps the ordinals of its first version: 9 is htons.
  uint32_t sockets = libraries.Load("WS2_32.DLL");
  ASSERT_NE(sockets, 0u);
  EXPECT_EQ(libraries.Loaded("ws2_32.dll"), sockets);
  uint32_t htons = libraries.EntryPointByOrdinal(sockets, 9);
  EXPECT_EQ(htons, libraries.EntryPoint(sockets, "htons"));
  CallResult result;
  ASSERT_TRUE(libraries.Call(htons, 'S', {Int(0x1234)}, 'W', result));
  EXPECT_EQ(result.integer & 0xFFFF, 0x3412u);
  EXPECT_EQ(libraries.EntryPointByOrdinal(sockets, 65000), 0u);
  EXPECT_EQ(plat::LastError(), plat::kErrorProcNotFound);
  EXPECT_TRUE(libraries.Free(sockets));
}

TEST(LibrariesTest, MissingLibrariesAndNamesGiveZeroWithTheReason) {
  plat::Libraries& libraries = plat::Native().libraries;
  EXPECT_EQ(libraries.Load("NO_SUCH_LIBRARY.DLL"), 0u);
  EXPECT_EQ(plat::LastError(), plat::kErrorModNotFound);
  EXPECT_EQ(libraries.Loaded("NO_SUCH_LIBRARY.DLL"), 0u);
  uint32_t kernel = libraries.Loaded("KERNEL32.DLL");
  ASSERT_NE(kernel, 0u);
  EXPECT_EQ(libraries.EntryPoint(kernel, "NoSuchFunctionA"), 0u);
  EXPECT_EQ(plat::LastError(), plat::kErrorProcNotFound);
}

TEST(RegistryTest, KeyValueAndNumberAreToldApart) {
  plat::SystemInfo& system = plat::Native().system;
  const std::string policies = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
  uint32_t number = 0xDEADBEEF;
  EXPECT_EQ(system.MachineNumber(policies, "EnableLUA", number), plat::RegistryRead::kRead);
  EXPECT_LE(number, 1u);
  number = 0xDEADBEEF;
  EXPECT_EQ(system.MachineNumber(policies, "NoSuchValue", number),
            plat::RegistryRead::kValueMissing);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_EQ(system.MachineNumber("SOFTWARE\\No Such Key 7f3a", "EnableLUA", number),
            plat::RegistryRead::kKeyMissing);
  EXPECT_EQ(plat::LastError(), plat::kErrorFileNotFound);
  EXPECT_EQ(number, 0xDEADBEEFu);
  // A text longer than four bytes does not fit the number.
  EXPECT_EQ(system.MachineNumber("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                                 number),
            plat::RegistryRead::kValueMissing);
}

// RemoveQueuedMessage takes exactly one message of its number off the queue.
TEST(MessageQueueTest, OneMessageOfThatNumberIsRemoved) {
  plat::Libraries& libraries = plat::Native().libraries;
  uint32_t user = libraries.Load("USER32.DLL");
  uint32_t post = libraries.EntryPoint(user, "PostThreadMessageA");
  uint32_t peek = libraries.EntryPoint(user, "PeekMessageA");
  uint32_t thread = libraries.EntryPoint(libraries.Loaded("KERNEL32.DLL"), "GetCurrentThreadId");
  ASSERT_NE(post, 0u);
  ASSERT_NE(peek, 0u);
  constexpr uint32_t kMessage = 0x400 + 77, kOther = kMessage + 1;  // WM_USER + n
  plat::UserInterface& ui = plat::Native().ui;
  ui.RemoveQueuedMessage(kMessage);  // the first message call gives the thread its queue
  CallResult id, done;
  ASSERT_TRUE(libraries.Call(thread, 'S', {}, 'I', id));
  for (uint32_t message : {kMessage, kOther, kMessage}) {
    ASSERT_TRUE(libraries.Call(post, 'S', {Int(0), Int(0), Int(message), Int(id.integer)}, 'B',
                               done));
    ASSERT_NE(done.integer, 0u);
  }
  auto queued = [&](uint32_t message) {
    unsigned char msg[64];
    CallResult found;  // PeekMessageA(&msg, 0, message, message, PM_NOREMOVE)
    libraries.Call(peek, 'S', {Int(0), Int(message), Int(message), Int(0), Pointer(msg)}, 'B',
                   found);
    return found.integer != 0;
  };
  ui.RemoveQueuedMessage(kMessage);
  EXPECT_TRUE(queued(kMessage));
  ui.RemoveQueuedMessage(kMessage);
  EXPECT_FALSE(queued(kMessage));
  EXPECT_TRUE(queued(kOther));
  ui.RemoveQueuedMessage(kOther);
  EXPECT_FALSE(queued(kOther));
}

}  // namespace

#endif  // _WIN32
