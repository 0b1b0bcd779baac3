#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "ScratchFolder.h"

namespace ospry {
namespace {

using testutil::TScratchFolder;

// Points the mutexes at a private runtime folder, so tests neither see nor
// disturb the user's real mutexes; names are unique per test because a
// process keeps its records of names for good.
class NamedMutexTest : public ::testing::Test {
protected:
  NamedMutexTest() {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    hadRuntime_ = saved != nullptr;
    if (hadRuntime_) savedRuntime_ = saved;
    ::setenv("XDG_RUNTIME_DIR", scratch_.Path().c_str(), 1);
  }
  ~NamedMutexTest() override {
    if (hadRuntime_) ::setenv("XDG_RUNTIME_DIR", savedRuntime_.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
  }

  std::string UniqueName() const {
    return std::string("test_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }

  // True when some process (or another description in this one) holds the
  // lock behind name: probes with a description of its own.
  static bool HeldElsewhere(const std::string& name) {
    int fd = ::open(TNamedMutex::LockFilePath(name).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
  }

  TScratchFolder scratch_;
  bool hadRuntime_ = false;
  std::string savedRuntime_;
};

// Waits up to timeoutMs for one byte on fd; -1 when none came.
int ReadByte(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) != 1) return -1;
  char c = 0;
  return ::read(fd, &c, 1) == 1 ? c : -1;
}

TEST_F(NamedMutexTest, LockFilesStayInTheRuntimeFolder) {
  std::string folder = scratch_.Path() + "ospry-mutex/";
  EXPECT_EQ(TNamedMutex::LockFilePath("ffmpeg_api_hack_mutex"), folder + "ffmpeg_api_hack_mutex.lock");
  std::string odd = TNamedMutex::LockFilePath("../a/b");
  EXPECT_EQ(ExtractFilePath(odd), folder);
  // Names that sanitise alike still get files of their own.
  EXPECT_NE(TNamedMutex::LockFilePath("a/b"), TNamedMutex::LockFilePath("a_b"));
  EXPECT_NE(TNamedMutex::LockFilePath(""), folder + ".lock");
  EXPECT_LT(ExtractFileName(TNamedMutex::LockFilePath(std::string(5000, 'x'))).size(), 200u);
}

TEST_F(NamedMutexTest, ReentrantForTheOwningThread) {
  std::string name = UniqueName();
  TNamedMutex mutex(name);
  ASSERT_TRUE(mutex.Valid());
  mutex.Wait();
  mutex.Wait();
  EXPECT_TRUE(HeldElsewhere(name));
  mutex.Release();
  EXPECT_TRUE(HeldElsewhere(name));  // one level still owned
  mutex.Release();
  EXPECT_FALSE(HeldElsewhere(name));
  mutex.Release();  // not owned: ignored
  TNamedMutexGuard guard(mutex);
  EXPECT_TRUE(HeldElsewhere(name));
}

TEST_F(NamedMutexTest, ThreadsOfOneProcessExcludeEachOther) {
  std::string name = UniqueName();
  TNamedMutex first(name);
  TNamedMutex second(name);  // another object of the same name
  first.Wait();
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    TNamedMutexGuard guard(second);
    acquired = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(acquired.load());
  first.Release();
  other.join();
  EXPECT_TRUE(acquired.load());
  EXPECT_FALSE(HeldElsewhere(name));
}

TEST_F(NamedMutexTest, SerialisesTwoProcesses) {
  std::string name = UniqueName();
  // Opened before the fork: the child inherits the record and must take a
  // lock of its own instead of sharing ours.
  TNamedMutex mutex(name);
  int toChild[2], fromChild[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(fromChild), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(toChild[1]);
    ::close(fromChild[0]);
    if (ReadByte(toChild[0], 5000) != 'G') ::_exit(2);
    mutex.Wait();
    char got = 'L';
    (void)::write(fromChild[1], &got, 1);
    mutex.Release();
    ::_exit(0);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  mutex.Wait();
  char go = 'G';
  ASSERT_EQ(::write(toChild[1], &go, 1), 1);
  EXPECT_EQ(ReadByte(fromChild[0], 200), -1);  // the child waits while we own it
  mutex.Release();
  EXPECT_EQ(ReadByte(fromChild[0], 5000), 'L');
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ::close(toChild[1]);
  ::close(fromChild[0]);
}

TEST_F(NamedMutexTest, ReleasedWhenTheHolderIsKilled) {
  std::string name = UniqueName();
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    TNamedMutex mutex(name);
    mutex.Wait();
    char got = 'L';
    (void)::write(pipeFds[1], &got, 1);
    for (;;) ::pause();
  }
  ::close(pipeFds[1]);
  ASSERT_EQ(ReadByte(pipeFds[0], 5000), 'L');
  EXPECT_TRUE(HeldElsewhere(name));
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_FALSE(HeldElsewhere(name));
  TNamedMutex mutex(name);
  TNamedMutexGuard guard(mutex);  // does not block
  ::close(pipeFds[0]);
}

TEST_F(NamedMutexTest, WithoutALockFileThreadsAreStillSerialised) {
  // A file where the lock folder should be: no lock file can be had.
  ASSERT_TRUE(WriteWholeFile(scratch_.Path() + "ospry-mutex", "x", 1));
  TNamedMutex mutex(UniqueName());
  EXPECT_FALSE(mutex.Valid());
  mutex.Wait();
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    TNamedMutexGuard guard(mutex);
    acquired = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(acquired.load());
  mutex.Release();
  other.join();
  EXPECT_TRUE(acquired.load());
}

}  // namespace
}  // namespace ospry
