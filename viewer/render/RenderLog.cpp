#include "viewer/render/RenderLog.h"

#include <mutex>

#include "viewer/logging/U_LogManager.h"

namespace ospry::render {

namespace {
std::mutex& ObserverLock() {
  static std::mutex lock;
  return lock;
}
TLogObserver& Observer() {
  static TLogObserver observer;
  return observer;
}
}  // namespace

void SetLogObserver(TLogObserver observer) {
  std::lock_guard<std::mutex> guard(ObserverLock());
  Observer() = std::move(observer);
}

void LogDebug(const std::string& text, int level) {
  try {
    TLogObserver observer;
    {
      std::lock_guard<std::mutex> guard(ObserverLock());
      observer = Observer();
    }
    if (observer) observer(text, level);
    LogMessage(text, TLogType::Debug, level);
  } catch (...) {
    // Logging never disturbs drawing.
  }
}

}  // namespace ospry::render
