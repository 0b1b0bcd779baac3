#pragma once
// libVPlay.so loaded at run time for the tests, with its entry points
// resolved by name, and helpers shared by the test files.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/DynLib.h"
#include "vplay/VPlay.h"

// Every entry point the tests call, as one list for the declarations and
// the lookups.
#define VPLAY_TEST_ENTRIES(X) \
  X(VPlay_GetPort) \
  X(VPlay_FreePort) \
  X(VPlay_OpenStream) \
  X(VPlay_Play) \
  X(VPlay_InputData) \
  X(VPlay_PlaySoundShare) \
  X(VPlay_StopSoundShare) \
  X(VPlay_Stop) \
  X(VPlay_CloseStream) \
  X(VPlay_ResetSourceBuffer) \
  X(VPlay_ResetBuffer) \
  X(VPlay_Fast) \
  X(VPlay_Slow) \
  X(VPlay_SetDisplayCallBack) \
  X(VPlay_SetDecCallBack) \
  X(VPlay_RefreshPlay) \
  X(VPlay_SetDisplayRegion) \
  X(VPlay_OpenFile) \
  X(VPlay_CloseFile) \
  X(VPlay_GetFileTime) \
  X(VPlay_GetFileTotalFrames) \
  X(VPlay_GetPictureSize) \
  X(VPlay_GetCurrentFrameNum) \
  X(VPlay_Pause) \
  X(VPlay_SetPlayPos) \
  X(VPlay_GetPlayPos) \
  X(VPlay_GetPlayedTime) \
  X(VPlay_SetOutputFactories) \
  X(VPlay_SetClock)

namespace ospry::test {

struct TVPlay {
  TDynLib library;
#define VPLAY_DECLARE_ENTRY(name) decltype(&::name) name = nullptr;
  VPLAY_TEST_ENTRIES(VPLAY_DECLARE_ENTRY)
#undef VPLAY_DECLARE_ENTRY
  void* Symbol(const char* name) const;
};

// The library, loaded once for the test process.
TVPlay& Library();

// Polls until done() or a generous real-time limit; returns done().
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10));

// A file name in a fresh per-process temporary folder.
std::string TempPath(const std::string& name);

}  // namespace ospry::test
