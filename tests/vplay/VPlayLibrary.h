#pragma once
// libVPlay.so loaded at run time for the tests, with its entry points
// resolved by name, and helpers shared by the test files.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/DynLib.h"
#include "vplay/VPlay.h"

namespace ospry::test {

struct TVPlay {
  TDynLib library;
#define VPLAY_ENTRY(name) decltype(&::name) name = nullptr;
  VPLAY_ENTRY(VPlay_GetPort)
  VPLAY_ENTRY(VPlay_FreePort)
  VPLAY_ENTRY(VPlay_OpenStream)
  VPLAY_ENTRY(VPlay_Play)
  VPLAY_ENTRY(VPlay_InputData)
  VPLAY_ENTRY(VPlay_PlaySoundShare)
  VPLAY_ENTRY(VPlay_StopSoundShare)
  VPLAY_ENTRY(VPlay_Stop)
  VPLAY_ENTRY(VPlay_CloseStream)
  VPLAY_ENTRY(VPlay_ResetSourceBuffer)
  VPLAY_ENTRY(VPlay_ResetBuffer)
  VPLAY_ENTRY(VPlay_Fast)
  VPLAY_ENTRY(VPlay_Slow)
  VPLAY_ENTRY(VPlay_SetDisplayCallBack)
  VPLAY_ENTRY(VPlay_SetDecCallBack)
  VPLAY_ENTRY(VPlay_RefreshPlay)
  VPLAY_ENTRY(VPlay_SetDisplayRegion)
  VPLAY_ENTRY(VPlay_OpenFile)
  VPLAY_ENTRY(VPlay_CloseFile)
  VPLAY_ENTRY(VPlay_GetFileTime)
  VPLAY_ENTRY(VPlay_GetFileTotalFrames)
  VPLAY_ENTRY(VPlay_GetPictureSize)
  VPLAY_ENTRY(VPlay_GetCurrentFrameNum)
  VPLAY_ENTRY(VPlay_Pause)
  VPLAY_ENTRY(VPlay_SetPlayPos)
  VPLAY_ENTRY(VPlay_GetPlayPos)
  VPLAY_ENTRY(VPlay_GetPlayedTime)
  VPLAY_ENTRY(VPlay_SetOutputFactories)
  VPLAY_ENTRY(VPlay_SetClock)
#undef VPLAY_ENTRY
  void* Symbol(const char* name) const;
};

// The library, loaded once for the test process.
TVPlay& Library();

// Polls until done() or a generous real-time limit; returns done().
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10));

// A file name in a fresh per-process temporary folder.
std::string TempPath(const std::string& name);

}  // namespace ospry::test
