#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "platform/Process.h"
#include "tests/launcher/TestSupport.h"

namespace ospry {
namespace {

using launchertest::TPrivateTempTest;
using launchertest::WaitUntil;

TEST(SplitArguments, BlanksSeparateAndQuotesKeepBlanks) {
  struct TCase {
    const char* input;
    std::vector<std::string> expected;
  };
  const TCase cases[] = {
      {"", {}},
      {"   ", {}},
      {"a b", {"a", "b"}},
      {"  a \t b  ", {"a", "b"}},
      {"\"/tmp/my clips/pack age\"", {"/tmp/my clips/pack age"}},
      {"\"a b\" c", {"a b", "c"}},
      {"x\"a b\"y z", {"xa by", "z"}},
      {"\"\" b", {"", "b"}},
      {"\"unterminated  quote", {"unterminated  quote"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitArguments(c.input), c.expected) << "input: " << c.input;
}

class ProcessTest : public TPrivateTempTest {};

TEST_F(ProcessTest, QuotedPathWithBlanksArrivesAsOneArgumentInTheWorkingFolder) {
  const std::string package = (work_ / "my clips" / "pack age.bin").string();
  TProcess process;
  ASSERT_TRUE(process.Start(OSPRY_STANDIN_VIEWER, "\"" + package + "\" second", temp_.string()));
  EXPECT_TRUE(process.Started());
  EXPECT_GT(process.Pid(), 0);
  EXPECT_EQ(process.WaitForExit(), 0);
  EXPECT_FALSE(process.IsRunning());

  auto record = Record();
  ASSERT_TRUE(record.isPresent);
  EXPECT_EQ(record.args, (std::vector<std::string>{package, "second"}));
  EXPECT_EQ(record.cwd, temp_.string());
  EXPECT_EQ(record.pid, process.Pid());
}

TEST_F(ProcessTest, ProgramThatCannotStartIsReportedAndLeavesNoProcess) {
  const auto notExecutable = work_ / "data.txt";
  std::ofstream(notExecutable) << "not a program\n";
  struct TCase {
    const char* what;
    std::string program;
    std::string folder;
  };
  const TCase cases[] = {
      {"missing program", (work_ / "no-such-program").string(), ""},
      {"not executable", notExecutable.string(), ""},
      {"missing working folder", OSPRY_STANDIN_VIEWER, (work_ / "no-such-folder").string()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TProcess process;
    EXPECT_FALSE(process.Start(c.program, "", c.folder));
    EXPECT_FALSE(process.Started());
    EXPECT_FALSE(process.IsRunning());
    EXPECT_FALSE(process.Terminate());
    EXPECT_EQ(process.WaitForExit(), -1);
  }
  EXPECT_FALSE(Record().isPresent);
}

TEST_F(ProcessTest, TerminateEndsTheProcessAndAWaitingThreadSeesTheEnd) {
  SetViewerMode("wait");
  TProcess process;
  ASSERT_TRUE(process.Start(OSPRY_STANDIN_VIEWER, "", ""));
  int waitedCode = -2;
  std::thread waiter([&] { waitedCode = process.WaitForExit(); });
  ASSERT_TRUE(WaitForRecord());
  EXPECT_TRUE(process.IsRunning());

  EXPECT_TRUE(process.Terminate());
  waiter.join();
  EXPECT_EQ(waitedCode, 128 + SIGKILL);
  EXPECT_FALSE(process.IsRunning());
  EXPECT_FALSE(process.Terminate()) << "an ended process is not ended again";
  EXPECT_EQ(process.WaitForExit(), 128 + SIGKILL);
}

TEST_F(ProcessTest, StatusPollingWhileAnotherThreadWaitsLosesNoExitCode) {
  // Both paths collect the child's status; whichever comes first, the exit
  // code must survive for the other.
  for (int round = 0; round < 5; ++round) {
    TProcess process;
    ASSERT_TRUE(process.Start(OSPRY_STANDIN_VIEWER, "", ""));
    int waitedCode = -2;
    std::thread waiter([&] { waitedCode = process.WaitForExit(); });
    ASSERT_TRUE(WaitUntil([&] { return !process.IsRunning(); }));
    waiter.join();
    EXPECT_EQ(waitedCode, 0);
    EXPECT_EQ(process.WaitForExit(), 0);
  }
}

}  // namespace
}  // namespace ospry
