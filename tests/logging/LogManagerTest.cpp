#include "viewer/logging/U_LogManager.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "platform/IniFile.h"
#include "tests/platform/ScratchFolder.h"

namespace ospry {
namespace {

using testutil::TScratchFolder;

TDateTime At(int year, int month, int day, int hour = 12, int minute = 0, int second = 0, int ms = 0) {
  return EncodeDateTime({year, month, day, hour, minute, second, ms});
}

std::string Content(const std::string& path) {
  std::string out;
  ReadWholeFile(path, out);
  return out;
}

std::string Line(const std::string& stamp, const std::string& text) {
  return stamp + "tid: " + std::to_string(CurrentThreadId()) + " " + text + "\n";
}

// A program folder of its own and a manual clock; the manager runs without
// its thread and the test drives the loop with RunOnce.
class LogManagerTest : public ::testing::Test {
protected:
  std::unique_ptr<TLogManager> Start() {
    return std::make_unique<TLogManager>(folder_.Path(), clock_, TLogManager::TMode::Manual);
  }
  void SetIni(const std::string& section, const std::string& key, const std::string& value) {
    ASSERT_TRUE(TIniFile(folder_ / "Logmanager.ini").WriteString(section, key, value));
  }

  TScratchFolder folder_;
  TManualClock clock_{At(2026, 12, 9, 10, 15, 30)};
};

TEST_F(LogManagerTest, WritesItsDefaultsWhenTheConfigurationIsMissing) {
  auto log = Start();
  std::string ini = Content(folder_ / "Logmanager.ini");
  const char* names[] = {"DCYCLE", "DATAREAD",  "CHUNKWRITER", "DEBUG",  "STARTUP",
                         "REPLAY", "IPCAMERAS", "ENCODERS",    "ALARMS", "PLAYBACK"};
  std::string expected;
  for (const char* name : names) {
    if (!expected.empty()) expected += "\n";
    expected += std::string("[") + name + "]\nlogLevel=0\nlogFile=" + name + ".log\nlogDir=Logs\n";
  }
  EXPECT_EQ(ini, expected);  // ten sections in order, no [General]
  EXPECT_EQ(log->KeepDays(), 30);
  for (int i = 0; i < kLogTypeCount; ++i) {
    TLogTypeInfo info = log->TypeInfo(static_cast<TLogType>(i));
    EXPECT_EQ(info.level, 0);
    EXPECT_EQ(info.fileName, std::string(names[i]) + ".log");
    EXPECT_EQ(info.dir, "Logs");
  }
}

TEST_F(LogManagerTest, ReadsAnExistingConfiguration) {
  SetIni("General", "Keepdays", "5");
  SetIni("debug", "LOGLEVEL", "3");
  SetIni("DEBUG", "logDir", "deep/er");
  auto log = Start();
  EXPECT_EQ(log->KeepDays(), 5);
  TLogTypeInfo debug = log->TypeInfo(TLogType::Debug);
  EXPECT_EQ(debug.level, 3);
  EXPECT_EQ(debug.fileName, "DEBUG.log");  // missing key: default
  EXPECT_EQ(debug.dir, "deep/er");
  // An existing file is taken as it is: no defaults are added to it.
  EXPECT_EQ(Content(folder_ / "Logmanager.ini").find("DCYCLE"), std::string::npos);
}

TEST_F(LogManagerTest, WithoutAWritableConfigurationTheDefaultsApply) {
  // The program folder is missing: nothing can be created in it.
  TLogManager log(folder_ / "missing", clock_, TLogManager::TMode::Manual);
  EXPECT_EQ(log.KeepDays(), 30);
  TLogTypeInfo debug = log.TypeInfo(TLogType::Debug);
  EXPECT_EQ(debug.fileName, "DEBUG.log");
  EXPECT_EQ(debug.dir, "Logs");
}

TEST_F(LogManagerTest, LevelFilter) {
  struct TCase {
    int configured;
    int level;
    bool written;
  };
  const TCase cases[] = {{0, 0, true}, {0, 2, false}, {2, 2, true}, {2, 0, true}, {2, 3, false}};
  for (const TCase& c : cases) {
    SetIni("DEBUG", "logLevel", std::to_string(c.configured));
    TLogManager log(folder_.Path(), clock_, TLogManager::TMode::Manual);
    EXPECT_EQ(log.AddMessage("m", TLogType::Debug, c.level), c.written)
        << "configured " << c.configured << ", level " << c.level;
  }
}

TEST_F(LogManagerTest, LineFormatAndFile) {
  auto log = Start();
  ASSERT_TRUE(log->AddMessage("first", TLogType::Debug, 0));
  ASSERT_TRUE(log->AddMessage("to replay", TLogType::Replay, 0));
  unsigned long otherId = 0;
  std::thread other([&] {
    otherId = CurrentThreadId();
    log->AddMessage("second", TLogType::Debug, 0);
  });
  other.join();
  clock_.AdvanceMs(1500);
  log->RunOnce();
  EXPECT_EQ(Content(folder_ / "Logs/2026-12-09 DEBUG.log"),
            Line("2026-12-09 10:15:31", "first") + "2026-12-09 10:15:31tid: " + std::to_string(otherId) +
                " second\n");
  EXPECT_EQ(Content(folder_ / "Logs/2026-12-09 REPLAY.log"), Line("2026-12-09 10:15:31", "to replay"));
  // Appended on the next pass.
  log->AddMessage("third", TLogType::Replay, 0);
  log->RunOnce();
  EXPECT_EQ(Content(folder_ / "Logs/2026-12-09 REPLAY.log"),
            Line("2026-12-09 10:15:31", "to replay") + Line("2026-12-09 10:15:31", "third"));
}

TEST_F(LogManagerTest, ChangedLevelTakesEffectOnTheNextReRead) {
  auto log = Start();
  EXPECT_FALSE(log->AddMessage("m", TLogType::Debug, 2));
  SetIni("DEBUG", "logLevel", "2");
  clock_.AdvanceMs(9999);  // 9 whole seconds: not yet
  log->RunOnce();
  EXPECT_FALSE(log->AddMessage("m", TLogType::Debug, 2));
  clock_.AdvanceMs(1);
  log->RunOnce();
  EXPECT_TRUE(log->AddMessage("m", TLogType::Debug, 2));
}

TEST_F(LogManagerTest, LineQueuedBeforeMidnightGoesToTheNewDay) {
  clock_.Set(At(2026, 12, 9, 23, 59, 59, 800));
  auto log = Start();
  log->RunOnce();
  ASSERT_TRUE(log->AddMessage("late", TLogType::Debug, 0));
  clock_.AdvanceMs(500);
  log->RunOnce();
  EXPECT_FALSE(FileExists(folder_ / "Logs/2026-12-09 DEBUG.log"));
  EXPECT_EQ(Content(folder_ / "Logs/2026-12-10 DEBUG.log"), Line("2026-12-10 00:00:00", "late"));
}

TEST_F(LogManagerTest, DeletesOldFilesByTheDateInTheirName) {
  SetIni("General", "Keepdays", "30");
  ASSERT_TRUE(CreateDirectories(folder_ / "Logs"));
  const char* names[] = {"2026-11-09 DEBUG.log", "2026-11-10 DEBUG.log", "2020-01-01 REPLAY.log",
                         "notes.txt", "2026-1-09 DEBUG.log", "DEBUG 2020-01-01.log"};
  for (const char* name : names) ASSERT_TRUE(WriteWholeFile(folder_ / "Logs/" + name, "x", 1));

  clock_.Set(At(2026, 12, 8));
  auto log = Start();
  log->RunOnce();  // the first pass cleans up at once
  EXPECT_TRUE(FileExists(folder_ / "Logs/2026-11-09 DEBUG.log"));
  EXPECT_FALSE(FileExists(folder_ / "Logs/2020-01-01 REPLAY.log"));

  clock_.Set(At(2026, 12, 9, 11, 59, 59));  // not yet 24 hours later
  log->RunOnce();
  EXPECT_TRUE(FileExists(folder_ / "Logs/2026-11-09 DEBUG.log"));
  clock_.Set(At(2026, 12, 9, 12));
  log->RunOnce();
  EXPECT_FALSE(FileExists(folder_ / "Logs/2026-11-09 DEBUG.log"));
  EXPECT_TRUE(FileExists(folder_ / "Logs/2026-11-10 DEBUG.log"));
  for (const char* undated : {"notes.txt", "2026-1-09 DEBUG.log", "DEBUG 2020-01-01.log"})
    EXPECT_TRUE(FileExists(folder_ / "Logs/" + undated)) << undated;
}

TEST_F(LogManagerTest, UndeletableFileIsReported) {
  // A folder with a dated name cannot be deleted as a file.
  ASSERT_TRUE(CreateDirectories(folder_ / "Logs/2020-01-01 stuck"));
  auto log = Start();
  log->RunOnce();  // cleans up and queues the report
  log->RunOnce();  // writes it
  EXPECT_EQ(Content(folder_ / "Logs/2026-12-09 DEBUG.log"),
            Line("2026-12-09 10:15:30", "Could not delete " + folder_.Path() + "Logs/2020-01-01 stuck"));
}

TEST_F(LogManagerTest, CreatesMissingFoldersAndDropsLinesItCannotWrite) {
  SetIni("DEBUG", "logDir", "a/b/c");
  SetIni("REPLAY", "logDir", "blocked/sub");
  ASSERT_TRUE(WriteWholeFile(folder_ / "blocked", "x", 1));  // a file where a folder must go
  auto log = Start();
  log->AddMessage("lost", TLogType::Replay, 0);
  log->AddMessage("kept", TLogType::Debug, 0);
  log->RunOnce();
  EXPECT_EQ(Content(folder_ / "a/b/c/2026-12-09 DEBUG.log"), Line("2026-12-09 10:15:30", "kept"));
  log->AddMessage("still going", TLogType::Debug, 0);
  log->RunOnce();
  EXPECT_NE(Content(folder_ / "a/b/c/2026-12-09 DEBUG.log").find("still going"), std::string::npos);
}

TEST_F(LogManagerTest, DestructionWritesWhatIsQueued) {
  auto log = Start();
  log->AddMessage("last words", TLogType::Startup, 0);
  log.reset();
  EXPECT_EQ(Content(folder_ / "Logs/2026-12-09 STARTUP.log"), Line("2026-12-09 10:15:30", "last words"));
}

TEST_F(LogManagerTest, SettingsAreReplacedSafelyWhileOtherThreadsLog) {
  auto log = Start();
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < 2; ++t)
    writers.emplace_back([&] {
      // Mostly filtered messages: they read the settings without growing
      // the queue.
      for (int i = 0; !stop.load(); ++i) {
        log->AddMessage("busy", TLogType::Debug, i % 100 == 0 ? 0 : 1);
        std::this_thread::yield();
      }
    });
  for (int i = 0; i < 20; ++i) {
    SetIni("DEBUG", "logFile", i % 2 ? "odd.log" : "even.log");
    clock_.AdvanceMs(10000);
    log->RunOnce();
  }
  stop = true;
  for (std::thread& w : writers) w.join();
  EXPECT_EQ(log->TypeInfo(TLogType::Debug).fileName, "odd.log");
}

TEST(LogManagerThread, WritesOnItsOwnThreadAndAtTheEnd) {
  TScratchFolder folder;
  std::string logs = folder / "Logs/";
  auto log = std::make_unique<TLogManager>(folder.Path(), SystemClock());
  ASSERT_TRUE(log->AddMessage("from the thread", TLogType::Debug, 0));
  std::vector<std::string> names;
  for (int i = 0; i < 500 && !(ListFolder(logs, names) && !names.empty()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(names.size(), 1u);
  ASSERT_TRUE(log->AddMessage("at the end", TLogType::Debug, 0));
  log.reset();
  std::string content = Content(logs + names[0]);
  EXPECT_NE(content.find(" from the thread\n"), std::string::npos);
  EXPECT_NE(content.find(" at the end\n"), std::string::npos);
}

TEST(GlobalLogManager, LoggingWithoutAnInstanceDoesNothing) {
  EXPECT_FALSE(LogMessage("nobody listens", TLogType::Debug, 0));
  TScratchFolder folder;
  TManualClock clock(At(2026, 12, 9));
  EXPECT_EQ(SetGlobalLogManager(std::make_unique<TLogManager>(folder.Path(), clock, TLogManager::TMode::Manual)),
            nullptr);
  EXPECT_TRUE(LogMessage("heard", TLogType::Debug, 0));
  EXPECT_FALSE(LogMessage("filtered", TLogType::Debug, 1));
  std::unique_ptr<TLogManager> previous = SetGlobalLogManager(nullptr);
  ASSERT_NE(previous, nullptr);
  EXPECT_FALSE(LogMessage("gone", TLogType::Debug, 0));
  previous.reset();  // the final write
  EXPECT_EQ(Content(folder / "Logs/2026-12-09 DEBUG.log"), Line("2026-12-09 12:00:00", "heard"));
}

}  // namespace
}  // namespace ospry
