#pragma once
// Named system mutexes, shared by every process of the same user: the
// decoders serialise calls into a decoding library across all viewer
// processes with one. Re-entrant for the owning thread; released by the
// system when the holding process dies. Cheap when uncontended.
#include <memory>
#include <string>

namespace ospry {

class TNamedMutex {
public:
  // Opens (or creates, not owned) the mutex called name. Valid() is false
  // when the system object cannot be had; Wait and Release then do nothing.
  explicit TNamedMutex(const std::string& name);
  ~TNamedMutex();
  TNamedMutex(const TNamedMutex&) = delete;
  TNamedMutex& operator=(const TNamedMutex&) = delete;

  bool Valid() const;
  // Waits without time-out until the calling thread owns the mutex.
  void Wait();
  // Gives up one level of ownership; the mutex is free when every Wait of the
  // owning thread has been released.
  void Release();

private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// Scoped ownership of a named mutex.
class TNamedMutexGuard {
public:
  explicit TNamedMutexGuard(TNamedMutex& mutex) : mutex_(mutex) { mutex_.Wait(); }
  ~TNamedMutexGuard() { mutex_.Release(); }
  TNamedMutexGuard(const TNamedMutexGuard&) = delete;
  TNamedMutexGuard& operator=(const TNamedMutexGuard&) = delete;

private:
  TNamedMutex& mutex_;
};

}  // namespace ospry
