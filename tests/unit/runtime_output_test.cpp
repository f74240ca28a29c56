// Status and log output: the settings, the alternate output file, its name
// completion, the bytes it ends up with and the create error.
#include "runtime_fixture.h"

namespace runtime_test {
namespace {

using rt::Value;

class OutputTest : public RuntimeTest {
 protected:
  // The monitor's sequence for one status line.
  void WriteStatusLine(const std::string& name, const Value& text) {
    rt::SET(rt::ALTERNATE_FILE, name, false);
    rt::SET(rt::ALTERNATE_OUTPUT, "ON");
    rt::SET(rt::CONSOLE_OUTPUT, "OFF");
    rt::QOUT(text);
    rt::SET(rt::ALTERNATE_FILE, rt::NIL);
  }

  uint32_t Attributes(const std::string& name) { return test.platform.files.GetAttributes(name); }
};

TEST_F(OutputTest, AStatusLineIsLineBreakTextAndEndMark) {
  support::MakeFolders("UTILS\\QZBACKUP");
  WriteStatusLine("UTILS\\QZBACKUP\\QZBACKUP.ERR", "INVALID BACKUP MODE");
  EXPECT_EQ(support::ReadBytes("UTILS\\QZBACKUP\\QZBACKUP.ERR"), "\r\nINVALID BACKUP MODE\x1A");
  EXPECT_NE(Attributes("UTILS\\QZBACKUP\\QZBACKUP.ERR") & plat::kAttrArchive, 0u);
  // The settings stay as the sequence left them; no file is open.
  EXPECT_EQ(rt::SET(rt::ALTERNATE_OUTPUT), Value(true));
  EXPECT_EQ(rt::SET(rt::CONSOLE_OUTPUT), Value(false));
  EXPECT_EQ(rt::SET(rt::ALTERNATE_FILE), Value(""));
}

TEST_F(OutputTest, TextsAreWrittenByteForByte) {
  std::string text = "ERROR WHILE LOCKING DOWN SYSTEM\r\n\r\nno users\r\n\x1A\t  ";
  WriteStatusLine("QZBACKUP.ERR", text);
  EXPECT_EQ(support::ReadBytes("QZBACKUP.ERR"), "\r\n" + text + "\x1A");
}

TEST_F(OutputTest, ASetAndClearedFileHoldsOnlyTheEndMark) {
  EXPECT_EQ(rt::SET(rt::ALTERNATE_FILE, rt::NIL), Value(""));  // nothing open: nothing changes
  EXPECT_EQ(rt::SET(rt::ALTERNATE_FILE, "QZBACKUP.TST", false), Value(""));
  EXPECT_EQ(rt::SET(rt::ALTERNATE_FILE, rt::NIL), Value("QZBACKUP.TST"));
  EXPECT_EQ(support::ReadBytes("QZBACKUP.TST"), "\x1A");
  EXPECT_NE(Attributes("QZBACKUP.TST") & plat::kAttrArchive, 0u);
}

TEST_F(OutputTest, ANewFileReplacesAnOlderLongerOne) {
  support::WriteBytes("QZBACKUP.ERR", std::string(5000, 'x'));
  WriteStatusLine("QZBACKUP.ERR", "SHORT");
  EXPECT_EQ(support::ReadBytes("QZBACKUP.ERR"), "\r\nSHORT\x1A");
  // Setting the same name again starts it afresh too.
  rt::SET(rt::ALTERNATE_FILE, "QZBACKUP.ERR", false);
  rt::QOUT("ONE");
  rt::SET(rt::ALTERNATE_FILE, "QZBACKUP.ERR", false);
  rt::QOUT("TWO");
  rt::SET(rt::ALTERNATE_FILE, "");
  EXPECT_EQ(support::ReadBytes("QZBACKUP.ERR"), "\r\nTWO\x1A");
}

TEST_F(OutputTest, SwitchesTakeLogicalsOrTextsBeginningWithOn) {
  struct Case {
    Value value;
    bool on;
  };
  const Case cases[] = {{"ON", true},  {"on", true},   {"On", true},   {"ONE", true},
                        {"OFF", false}, {"X", false},  {"", false},    {"o", false},
                        {1, false},     {true, true},  {false, false}, {rt::NIL, false}};
  for (const Case& c : cases) {
    rt::SET(rt::ALTERNATE_OUTPUT, c.on ? false : true);
    rt::SET(rt::ALTERNATE_OUTPUT, c.value);
    EXPECT_EQ(rt::SET(rt::ALTERNATE_OUTPUT), Value(c.on)) << rt::internal::TextForm(c.value);
  }
  // With only the number nothing changes.
  rt::SET(rt::CONSOLE_OUTPUT, "OFF");
  EXPECT_EQ(rt::SET(rt::CONSOLE_OUTPUT), Value(false));
  EXPECT_EQ(rt::SET(rt::CONSOLE_OUTPUT, "ON"), Value(false));
}

TEST_F(OutputTest, OutputReachesOnlyActiveOutputs) {
  rt::SET(rt::CONSOLE_OUTPUT, "OFF");
  rt::SET(rt::ALTERNATE_FILE, "a.log");
  rt::QOUT("not written: alternate output off");
  rt::SET(rt::ALTERNATE_OUTPUT, "ON");
  rt::QOUT({"one", 2, true});
  rt::SET(rt::ALTERNATE_FILE, rt::NIL);
  rt::QOUT("not written: no file");
  EXPECT_EQ(support::ReadBytes("a.log"), "\r\none          2 .T.\x1A");
}

TEST_F(OutputTest, NamesWithoutExtensionGetTxt) {
  support::MakeFolders("UTILS\\QZBACKUP");
  support::MakeFolders("dir.x");
  rt::SET(rt::ALTERNATE_FILE, "UTILS\\QZBACKUP\\QZBACKUP");
  rt::SET(rt::ALTERNATE_FILE, "dir.x\\plain");
  rt::SET(rt::ALTERNATE_FILE, ".profile");
  rt::SET(rt::ALTERNATE_FILE, "dir.x/slashed.log");
  rt::SET(rt::ALTERNATE_FILE, rt::NIL);
  EXPECT_TRUE(support::Exists("UTILS\\QZBACKUP\\QZBACKUP.txt"));
  EXPECT_TRUE(support::Exists("dir.x\\plain.txt"));
  EXPECT_TRUE(support::Exists(".profile.txt"));
  EXPECT_TRUE(support::Exists("dir.x\\slashed.log"));
}

TEST_F(OutputTest, AppendingContinuesOverTheEndMark) {
  support::WriteBytes("log.txt", "\r\nfirst\x1A");
  rt::SET(rt::ALTERNATE_OUTPUT, "ON");
  rt::SET(rt::CONSOLE_OUTPUT, "OFF");
  rt::SET(rt::ALTERNATE_FILE, "log.txt", true);
  rt::QOUT("second");
  rt::SET(rt::ALTERNATE_FILE, rt::NIL);
  EXPECT_EQ(support::ReadBytes("log.txt"), "\r\nfirst\r\nsecond\x1A");
  // Without an end mark the output follows the last byte; a missing file is created.
  support::WriteBytes("bare.txt", "bare");
  rt::SET(rt::ALTERNATE_FILE, "bare.txt", true);
  rt::QOUT("more");
  rt::SET(rt::ALTERNATE_FILE, "new.txt", true);
  rt::QOUT("fresh");
  rt::SET(rt::ALTERNATE_FILE, rt::NIL);
  EXPECT_EQ(support::ReadBytes("bare.txt"), "bare\r\nmore\x1A");
  EXPECT_EQ(support::ReadBytes("new.txt"), "\r\nfresh\x1A");
}

TEST_F(OutputTest, NobodyElseCanOpenTheFileWhileItIsOpen) {
  rt::SET(rt::ALTERNATE_FILE, "held.txt", false);
  auto other = test.platform.files.Open("held.txt", plat::kRead,
                                        plat::kShareRead | plat::kShareWrite,
                                        plat::Disposition::kOpenExisting);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorSharingViolation);
  rt::SET(rt::ALTERNATE_FILE, rt::NIL);
  EXPECT_EQ(rt::MEMOREAD("held.txt"), Value(""));  // only the end mark, which is dropped
  EXPECT_EQ(support::ReadBytes("held.txt"), "\x1A");
}

TEST_F(OutputTest, AFileThatCannotBeCreatedRaisesTheCreateError) {
  RecordErrors(false);
  rt::SET(rt::ALTERNATE_OUTPUT, "ON");
  rt::SET(rt::CONSOLE_OUTPUT, "OFF");
  rt::SET(rt::ALTERNATE_FILE, "UTILS\\QZBACKUP\\QZBACKUP", false);
  ASSERT_EQ(raised.size(), 1u);
  const rt::Error& error = raised[0];
  EXPECT_EQ(error.genCode, 20);
  EXPECT_EQ(error.description, "Create error");
  EXPECT_EQ(error.subCode, 2013);
  EXPECT_EQ(error.subSystem, "TERM");
  EXPECT_EQ(error.osCode, plat::kErrorPathNotFound);
  EXPECT_EQ(error.operation, "UTILS\\QZBACKUP\\QZBACKUP.txt");
  EXPECT_TRUE(error.canRetry);
  EXPECT_TRUE(error.canDefault);
  // Given up: no file is open, so output reaches nothing.
  support::MakeFolders("UTILS\\QZBACKUP");
  rt::QOUT("lost");
  rt::SET(rt::ALTERNATE_FILE, rt::NIL);
  EXPECT_FALSE(support::Exists("UTILS\\QZBACKUP\\QZBACKUP.txt"));
}

TEST_F(OutputTest, TheCreateErrorCarriesTheSystemError) {
  RecordErrors(false);
  support::MakeFolders("QZBACKUP.TST");
  rt::SET(rt::ALTERNATE_FILE, "QZBACKUP.TST", false);       // a folder in the way
  rt::SET(rt::ALTERNATE_FILE, std::string(252, 'n'), false);  // 256 characters with ".txt"
  ASSERT_EQ(raised.size(), 2u);
  EXPECT_EQ(raised[0].osCode, plat::kErrorAccessDenied);
  EXPECT_EQ(raised[0].operation, "QZBACKUP.TST");
  EXPECT_EQ(raised[1].osCode, plat::kErrorFilenameTooLong);
}

TEST_F(OutputTest, AReadOnlyFileIsAccessDenied) {
  if (support::RunningUnderWine() && support::RunningAsRoot()) {
    GTEST_SKIP() << "wine keeps read-only in the permission bits, which do not hold back root";
  }
  RecordErrors(false);
  support::WriteBytes("QZBACKUP.OK", "old");
  ASSERT_TRUE(test.platform.files.SetAttributes("QZBACKUP.OK", plat::kAttrReadOnly));
  rt::SET(rt::ALTERNATE_FILE, "QZBACKUP.OK", false);
  ASSERT_EQ(raised.size(), 1u);
  EXPECT_EQ(raised[0].osCode, plat::kErrorAccessDenied);
  EXPECT_EQ(support::ReadBytes("QZBACKUP.OK"), "old");
  test.platform.files.SetAttributes("QZBACKUP.OK", plat::kAttrNormal);
}

TEST_F(OutputTest, AHandlerThatAnswersTrueRetriesTheCreate) {
  int calls = 0;
  rt::ERRORBLOCK(rt::Block([&calls](rt::Arguments) {
    ++calls;
    support::MakeFolders("late");
    return Value(true);
  }));
  WriteStatusLine("late\\status.txt", "made on the second try");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(support::ReadBytes("late\\status.txt"), "\r\nmade on the second try\x1A");
}

}  // namespace
}  // namespace runtime_test
