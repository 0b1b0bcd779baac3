#pragma once
// Named system mutexes, shared by every process of the same user: the
// decoders serialise calls into a decoding library across all viewer
// processes with one. Re-entrant for the owning thread; released by the
// system when the holding process dies. Cheap when uncontended.
//
// Every TNamedMutex of one name in one process shares one ownership record,
// so two objects of the same name exclude each other's threads and are
// re-entrant for the owning thread, as two handles of one system mutex are.
//
// Threading: any thread may call Wait and Release; Release by a thread that
// does not own the mutex does nothing. A thread must release before it ends
// (a mutex left owned by an ended thread blocks the others of its process).
// A process that forks without exec must not rely on mutexes it held at the
// fork in the child. Cost when uncontended: two flock calls for the
// outermost Wait/Release pair, none for nested ones (bench/platform_bench).
#include <string>

namespace ospry {

class TNamedMutex {
public:
  // Opens (or creates, not owned) the mutex called name. Valid() is false
  // when the system object cannot be had; Wait and Release then still
  // serialise the threads of this process, but not other processes.
  explicit TNamedMutex(const std::string& name);
  // Ownership is not given up by destruction (as with a system handle closed
  // while owned): the owning thread releases first.
  ~TNamedMutex();
  TNamedMutex(const TNamedMutex&) = delete;
  TNamedMutex& operator=(const TNamedMutex&) = delete;

  bool Valid() const;
  // Waits without time-out until the calling thread owns the mutex.
  void Wait();
  // Gives up one level of ownership; the mutex is free when every Wait of the
  // owning thread has been released.
  void Release();

  // The file whose lock stands for the mutex called name (for diagnostics
  // and tests): "<runtime folder>/ospry-mutex/<name>.lock", the runtime
  // folder being $XDG_RUNTIME_DIR, else "<temp folder>/ospry-<uid>". The name
  // is reduced to letters, digits, '.', '-' and '_'; a name that had to be
  // changed gets a hash of the original appended, so distinct names never
  // share a file.
  static std::string LockFilePath(const std::string& name);

private:
  struct TImpl;
  TImpl* impl_;  // the process-wide record of the name; lives until exit
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
