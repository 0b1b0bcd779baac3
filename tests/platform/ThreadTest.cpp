#include "platform/CallbackThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Clock.h"

namespace ospry {
namespace {

// A callback that counts its calls and blocks in each until the test lets it
// go, so the test knows exactly where the worker is.
class TGatedCallback {
public:
  void operator()() {
    std::unique_lock<std::mutex> guard(lock_);
    ++calls_;
    changed_.notify_all();
    changed_.wait(guard, [this] { return permits_ > 0; });
    --permits_;
    if (throwOnCall_ == calls_) throw std::runtime_error("callback failure");
  }
  // Waits until at least count calls have begun (false after 5 s).
  bool WaitForCalls(int count) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(5), [&] { return calls_ >= count; });
  }
  void Permit(int count) {
    std::lock_guard<std::mutex> guard(lock_);
    permits_ += count;
    changed_.notify_all();
  }
  // Lets every further call through.
  void Open() { Permit(1 << 30); }
  int Calls() {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
  }
  void ThrowOnCall(int call) {
    std::lock_guard<std::mutex> guard(lock_);
    throwOnCall_ = call;
  }

private:
  std::mutex lock_;
  std::condition_variable changed_;
  int calls_ = 0;        // guarded by lock_
  int permits_ = 0;      // guarded by lock_
  int throwOnCall_ = 0;  // guarded by lock_
};

bool WaitUntilFinished(const TCallbackThread& thread) {
  for (int i = 0; i < 5000 && !thread.Finished(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return thread.Finished();
}

TEST(CallbackThread, StartsSuspendedAndRunsOnResume) {
  TGatedCallback gate;
  TCallbackThread thread([&] { gate(); }, "test-worker");
  EXPECT_TRUE(thread.Suspended());
  EXPECT_FALSE(thread.Terminated());
  EXPECT_EQ(gate.Calls(), 0);
  thread.Resume();
  EXPECT_FALSE(thread.Suspended());
  gate.Permit(2);
  ASSERT_TRUE(gate.WaitForCalls(3));  // called again and again
  thread.Terminate();
  gate.Permit(1);
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
  EXPECT_EQ(gate.Calls(), 3);  // termination waits for the running call only
}

TEST(CallbackThread, SuspendTakesEffectBetweenCalls) {
  TGatedCallback gate;
  TCallbackThread thread([&] { gate(); });
  thread.Resume();
  ASSERT_TRUE(gate.WaitForCalls(1));
  thread.Suspend();
  EXPECT_TRUE(thread.Suspended());
  gate.Permit(100);  // the running call ends; no further call may begin
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(gate.Calls(), 1);
  thread.Resume();
  ASSERT_TRUE(gate.WaitForCalls(2));
  gate.Open();
}

TEST(CallbackThread, TerminateBeforeResumeNeverCalls) {
  TGatedCallback gate;
  TCallbackThread thread([&] { gate(); });
  thread.Terminate();
  thread.WaitFor();  // nothing started: returns at once
  thread.Resume();   // too late to start
  thread.WaitFor();
  EXPECT_TRUE(thread.Terminated());
  EXPECT_EQ(gate.Calls(), 0);
}

TEST(CallbackThread, ExceptionEndsTheThreadSilently) {
  TGatedCallback gate;
  gate.ThrowOnCall(2);
  gate.Permit(10);
  TCallbackThread thread([&] { gate(); });
  thread.Resume();
  ASSERT_TRUE(WaitUntilFinished(thread));
  EXPECT_EQ(gate.Calls(), 2);
  EXPECT_FALSE(thread.Terminated());
  thread.WaitFor();
}

TEST(CallbackThread, SeveralThreadsMayWaitAtOnce) {
  TGatedCallback gate;
  TCallbackThread thread([&] { gate(); });
  thread.Resume();
  ASSERT_TRUE(gate.WaitForCalls(1));
  std::thread a([&] { thread.WaitFor(); });
  std::thread b([&] { thread.WaitFor(); });
  thread.Terminate();
  gate.Permit(1);
  a.join();
  b.join();
  EXPECT_TRUE(thread.Finished());
}

TEST(CallbackThread, DestructionEndsARunningThread) {
  std::atomic<int> calls{0};
  {
    TCallbackThread thread([&] {
      ++calls;
      std::this_thread::yield();
    });
    thread.Resume();
    while (calls.load() < 10) std::this_thread::yield();
  }
  int after = calls.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(calls.load(), after);
}

TEST(CallbackThread, NamesTheWorker) {
  char name[16] = {};
  TCallbackThread thread([&] { pthread_getname_np(pthread_self(), name, sizeof name); throw 0; },
                         "ospry-named-worker-thread");
  thread.Resume();
  ASSERT_TRUE(WaitUntilFinished(thread));
  thread.WaitFor();
  EXPECT_STREQ(name, "ospry-named-wor");  // the system keeps 15 characters
}

TEST(ManualClock, MovesOnlyWhenTold) {
  TManualClock clock(46000.5);
  EXPECT_EQ(clock.Now(), 46000.5);
  clock.SleepMs(500);
  clock.SleepMs(0);
  clock.SleepMs(-5);
  EXPECT_EQ(MillisecondsBetween(clock.Now(), 46000.5), 500);
  EXPECT_EQ(clock.TakeSleeps(), (std::vector<std::int64_t>{500, 0, -5}));
  EXPECT_TRUE(clock.TakeSleeps().empty());
  clock.AdvanceMs(1500);
  EXPECT_EQ(MillisecondsBetween(clock.Now(), 46000.5), 2000);
  clock.Set(46001.0);
  EXPECT_EQ(clock.Now(), 46001.0);
}

TEST(SystemClock, SleepsAndReadsTheTime) {
  IClock& clock = SystemClock();
  TDateTime before = clock.Now();
  clock.SleepMs(20);
  EXPECT_GE(MillisecondsBetween(clock.Now(), before), 19);
}

TEST(CurrentThreadId, DiffersBetweenThreads) {
  unsigned long mine = CurrentThreadId();
  unsigned long other = 0;
  std::thread t([&] { other = CurrentThreadId(); });
  t.join();
  EXPECT_NE(mine, 0u);
  EXPECT_NE(other, mine);
}

}  // namespace
}  // namespace ospry
