#pragma once
// A worker thread that calls one callback over and over until told to stop.
// Players and render throttles run their loops on one each; the callback does
// its own sleeping.
//
// Created suspended. Resume starts (or continues) the calls; Suspend makes the
// thread wait before its next call (a running call is never interrupted).
// Terminate asks the thread to end after the current call; WaitFor joins it.
// An exception that leaves the callback ends the thread silently.
//
// Threading: every operation may be called from any thread except the worker
// itself (WaitFor from the worker would deadlock and returns at once instead;
// the object must not be destroyed by its own worker). Several threads may
// wait at once.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ospry {

class TCallbackThread {
public:
  using TCallback = std::function<void()>;

  explicit TCallbackThread(TCallback callback = {}, std::string name = "ospry-worker");
  ~TCallbackThread();  // Terminate, then WaitFor
  TCallbackThread(const TCallbackThread&) = delete;
  TCallbackThread& operator=(const TCallbackThread&) = delete;

  // Only before the first Resume.
  void SetCallback(TCallback callback);

  void Resume();
  void Suspend();
  void Terminate();
  void WaitFor();

  bool Suspended() const { return suspended_.load(); }
  bool Terminated() const { return terminated_.load(); }
  // True once the thread body has returned (terminated or ended by an
  // exception).
  bool Finished() const { return finished_.load(); }

private:
  void Body();

  TCallback callback_;
  std::string name_;
  std::mutex lock_;
  std::condition_variable wake_;  // signalled on Resume and Terminate
  std::atomic<bool> suspended_{true};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  bool started_ = false;          // guarded by lock_
  std::thread::id workerId_;      // guarded by lock_
  std::thread thread_;            // started on the first Resume; joined once
  std::once_flag joined_;
};

// Names the calling thread (visible in debuggers and /proc); at most 15
// characters are kept.
void SetCurrentThreadName(const std::string& name);
// The calling thread's system id, as written in log lines.
unsigned long CurrentThreadId();

}  // namespace ospry
