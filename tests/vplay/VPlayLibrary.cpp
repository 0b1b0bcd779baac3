#include "tests/vplay/VPlayLibrary.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "platform/Files.h"

namespace ospry::test {

void* TVPlay::Symbol(const char* name) const { return library.Symbol(name); }

TVPlay& Library() {
  static TVPlay& library = [] () -> TVPlay& {
    static TVPlay lib;
    if (!lib.library.Load(VPLAY_LIBRARY_PATH)) throw std::runtime_error(lib.library.LastError());
#define VPLAY_ENTRY(name) lib.name = reinterpret_cast<decltype(lib.name)>(lib.library.Symbol(#name));
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
    return lib;
  }();
  return library;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::string TempPath(const std::string& name) {
  static const std::string folder = [] {
    std::string f = TempFolder() + "ospry-vplay-tests-" + std::to_string(getpid()) + "/";
    CreateDirectories(f);
    return f;
  }();
  return folder + name;
}

}  // namespace ospry::test
