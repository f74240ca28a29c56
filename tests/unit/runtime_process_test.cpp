// Program starts, pauses, the tick counter and the message box.
#include "runtime_fixture.h"

namespace runtime_test {
namespace {

using rt::Value;

using ProcessTest = RuntimeTest;

// Waits for a started program to leave `name` behind.
bool AppearsSoon(const std::string& name) {
  return support::WaitFor([&] { return support::Exists(name); });
}

TEST_F(ProcessTest, WinexecStartsAProgramFoundBesideTheRunningOne) {
  // The stand-in lies beside the test program, not in the current folder.
  Value result = rt::WINEXEC("purchase_standin first-start");
  EXPECT_GE(result.AsDouble(), 32);
  ASSERT_EQ(test.processes.commandStarts.size(), 1u);
  EXPECT_EQ(test.processes.commandStarts[0].program, "purchase_standin first-start");
  EXPECT_EQ(test.processes.commandStarts[0].show, 1);  // no show mode: normal
  ASSERT_TRUE(AppearsSoon("PURCHASE.LOG"));
}

TEST_F(ProcessTest, WinexecTakesTheShowModeAsAnInteger) {
  const Value shows[] = {0, 2.7, rt::NIL, "3", true};
  for (const Value& show : shows) rt::WINEXEC("no-such-program.exe x", show);
  ASSERT_EQ(test.processes.commandStarts.size(), 5u);
  const int expected[] = {0, 2, 0, 0, 0};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(test.processes.commandStarts[i].show, expected[i]);
}

TEST_F(ProcessTest, WinexecReportsAMissingProgramThroughItsResult) {
  RecordErrors(false);
  Value result = rt::WINEXEC("no-such-program.exe", 0);
  EXPECT_LT(result.AsDouble(), 32);
  EXPECT_EQ(result, Value(2));
  EXPECT_TRUE(raised.empty());
  EXPECT_EQ(rt::WINEXEC(rt::NIL, 0), Value(2));  // not a text: nothing started
  EXPECT_EQ(test.processes.commandStarts.size(), 1u);
}

TEST_F(ProcessTest, YieldcpuSleepsWholeMilliseconds) {
  rt::YIELDCPU(60000);
  rt::YIELDCPU(15000.9);
  rt::YIELDCPU(0);
  rt::YIELDCPU(-5);
  rt::YIELDCPU(rt::NIL);
  rt::YIELDCPU("15000");
  rt::YIELDCPU(5e9);
  EXPECT_EQ(test.clock.sleeps, (std::vector<uint32_t>{60000, 15000, 0xFFFFFFFE}));
}

TEST_F(ProcessTest, GettickcountIsSigned32Bits) {
  test.clock.SetTick(5);
  EXPECT_EQ(rt::GETTICKCOUNT(), Value(5));
  test.clock.SetTick(0x7FFFFFFF);
  EXPECT_EQ(rt::GETTICKCOUNT(), Value(2147483647));
  test.clock.SetTick(0x80000000);
  EXPECT_EQ(rt::GETTICKCOUNT(), Value(-2147483647 - 1));
  test.clock.SetTick(0xFFFFFFFF);
  EXPECT_EQ(rt::GETTICKCOUNT(), Value(-1));
  rt::YIELDCPU(1);
  EXPECT_EQ(rt::GETTICKCOUNT(), Value(0));
}

TEST_F(ProcessTest, MessageboxArgumentRules) {
  std::string text = "Please see UTILS\\QZBACKUP\\README.TXT for details\r\n\r\n"
                     "Note: This is NOT backup software";
  EXPECT_EQ(rt::MESSAGEBOX(rt::NIL, text, "Varnolet - Backup monitor"), Value(1));
  test.ui.answer = 7;
  EXPECT_EQ(rt::MESSAGEBOX(0x1234, 42, rt::NIL, 0x10034), Value(7));
  rt::MESSAGEBOX("not a window", "t", "c", "16");
  ASSERT_EQ(test.ui.shown.size(), 3u);
  // No owner, the text unchanged, an OK button without an icon.
  EXPECT_EQ(test.ui.shown[0].owner, 0u);
  EXPECT_EQ(test.ui.shown[0].text, text);
  EXPECT_EQ(test.ui.shown[0].caption, "Varnolet - Backup monitor");
  EXPECT_EQ(test.ui.shown[0].style, 0u);
  // A number owns it; texts that are not texts; the low 16 bits of the flags.
  EXPECT_EQ(test.ui.shown[1].owner, 0x1234u);
  EXPECT_EQ(test.ui.shown[1].text, "Bad Parameter");
  EXPECT_EQ(test.ui.shown[1].caption, "Bad Parameter");
  EXPECT_EQ(test.ui.shown[1].style, 0x34u);
  EXPECT_EQ(test.ui.shown[2].owner, 0u);
  EXPECT_EQ(test.ui.shown[2].style, 0u);
}

}  // namespace
}  // namespace runtime_test
