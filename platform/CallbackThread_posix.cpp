#include "platform/CallbackThread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ospry {

TCallbackThread::TCallbackThread(TCallback callback, std::string name)
    : callback_(std::move(callback)), name_(std::move(name)) {}

TCallbackThread::~TCallbackThread() {
  Terminate();
  WaitFor();
}

void TCallbackThread::SetCallback(TCallback callback) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!started_) callback_ = std::move(callback);
}

void TCallbackThread::Resume() {
  std::lock_guard<std::mutex> guard(lock_);
  suspended_ = false;
  if (!started_ && !terminated_) {
    thread_ = std::thread([this] { Body(); });
    workerId_ = thread_.get_id();
    started_ = true;
  }
  wake_.notify_all();
}

void TCallbackThread::Suspend() {
  std::lock_guard<std::mutex> guard(lock_);
  suspended_ = true;
}

void TCallbackThread::Terminate() {
  std::lock_guard<std::mutex> guard(lock_);
  terminated_ = true;
  wake_.notify_all();
}

void TCallbackThread::WaitFor() {
  std::thread::id self = std::this_thread::get_id();
  {
    // thread_ itself is not read here: a concurrent WaitFor may be joining
    // it, which changes it.
    std::lock_guard<std::mutex> guard(lock_);
    if (!started_ || workerId_ == self) return;
  }
  std::call_once(joined_, [this] { thread_.join(); });
}

void TCallbackThread::Body() {
  SetCurrentThreadName(name_);
  try {
    for (;;) {
      {
        std::unique_lock<std::mutex> guard(lock_);
        wake_.wait(guard, [this] { return terminated_.load() || !suspended_.load(); });
        if (terminated_) break;
      }
      if (callback_) {
        callback_();
      } else {
        // Nothing to call: do not burn a core waiting for termination.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  } catch (...) {
    // An error inside the loop ends the thread silently.
  }
  finished_ = true;
}

void SetCurrentThreadName(const std::string& name) {
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

unsigned long CurrentThreadId() { return static_cast<unsigned long>(::syscall(SYS_gettid)); }

}  // namespace ospry
