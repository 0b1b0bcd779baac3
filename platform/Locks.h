#pragma once
// The two locks the design uses: a plain lock and a re-entrant one (the
// render throttle's lock is taken again by Push when it flushes).
#include <mutex>

namespace ospry {

using TLock = std::mutex;
using TRecursiveLock = std::recursive_mutex;

template <class Lockable>
using TLockGuard = std::lock_guard<Lockable>;

}  // namespace ospry
