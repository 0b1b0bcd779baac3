#pragma once
// The rendering module's diagnostic messages. They go to the program's log
// manager in the DEBUG category at the given level (0 is always written with
// the default configuration, 2 only when DEBUG is raised).
//
// Thread-safe; never throws. Must not be called while holding a render
// window's lock (the log manager's lock is always taken last and alone).
#include <functional>
#include <string>

namespace ospry::render {

void LogDebug(const std::string& text, int level);

// Sees every message before the log manager filters it (tests read the
// renderer's messages through it). Set it only while no drawing runs.
using TLogObserver = std::function<void(const std::string& text, int level)>;
void SetLogObserver(TLogObserver observer);

}  // namespace ospry::render
