// The exported entry points: argument checks, the process-wide port table,
// and the hand-over to the port. No exception leaves an entry point.
#include <array>
#include <atomic>
#include <memory>
#include <mutex>

#include "vplay/VPlay.h"
#include "vplay/VPlayPort.h"

namespace {

using ospry::vendor::TPort;

constexpr int kPortCount = 64;

std::mutex g_tableLock;
std::array<std::shared_ptr<TPort>, kPortCount> g_ports;  // guarded by g_tableLock
std::atomic<std::uint32_t> g_lastError{VPLAY_ERR_NONE};

VPlayBool Fail(std::uint32_t error) {
  g_lastError = error;
  return 0;
}

VPlayBool Result(bool ok, std::uint32_t error) { return ok ? 1 : Fail(error); }

std::shared_ptr<TPort> Find(std::int32_t port) {
  if (port < 0 || port >= kPortCount) return nullptr;
  std::lock_guard guard(g_tableLock);
  return g_ports[static_cast<std::size_t>(port)];
}

// Takes the port out of the table and shuts it down outside the table lock.
bool Release(std::int32_t port) {
  std::shared_ptr<TPort> released;
  {
    if (port < 0 || port >= kPortCount) return false;
    std::lock_guard guard(g_tableLock);
    released = std::move(g_ports[static_cast<std::size_t>(port)]);
  }
  if (!released) return false;
  released->Shutdown();
  return true;
}

// Runs body on the port in use, or fails with VPLAY_ERR_PARAM.
template <class Body>
VPlayBool WithPort(std::int32_t port, std::uint32_t error, Body body) {
  try {
    const std::shared_ptr<TPort> found = Find(port);
    if (!found) return Fail(VPLAY_ERR_PARAM);
    return Result(body(*found), error);
  } catch (...) {
    return Fail(VPLAY_ERR_PARAM);
  }
}

template <class Value, class Body>
Value ValueOf(std::int32_t port, Body body) {
  try {
    const std::shared_ptr<TPort> found = Find(port);
    if (!found) {
      g_lastError = VPLAY_ERR_PARAM;
      return Value{};
    }
    return body(*found);
  } catch (...) {
    return Value{};
  }
}

}  // namespace

extern "C" {

VPLAY_API VPlayBool VPlay_GetPort(std::int32_t* port) {
  if (port == nullptr) return Fail(VPLAY_ERR_PARAM);
  try {
    std::lock_guard guard(g_tableLock);
    for (int i = 0; i < kPortCount; ++i) {
      if (!g_ports[static_cast<std::size_t>(i)]) {
        g_ports[static_cast<std::size_t>(i)] = std::make_shared<TPort>(i);
        *port = i;
        return 1;
      }
    }
  } catch (...) {
  }
  *port = -1;
  return Fail(VPLAY_ERR_PARAM);
}

VPLAY_API VPlayBool VPlay_FreePort(std::int32_t port) {
  try {
    return Result(Release(port), VPLAY_ERR_PARAM);
  } catch (...) {
    return Fail(VPLAY_ERR_PARAM);
  }
}

VPLAY_API VPlayBool VPlay_OpenStream(std::int32_t port, const std::uint8_t* header, std::int32_t size,
                                     std::int32_t bufferPoolSize) {
  return WithPort(port, VPLAY_ERR_HEADER,
                  [&](TPort& p) { return p.OpenStream(header, size, bufferPoolSize); });
}

VPLAY_API VPlayBool VPlay_Play(std::int32_t port, VPlayWindow window) {
  return WithPort(port, VPLAY_ERR_ORDER, [&](TPort& p) { return p.Play(window); });
}

VPLAY_API VPlayBool VPlay_InputData(std::int32_t port, const std::uint8_t* data, std::int32_t size) {
  return WithPort(port, VPLAY_ERR_BUF_FULL, [&](TPort& p) { return p.InputData(data, size); });
}

VPLAY_API VPlayBool VPlay_PlaySound(std::int32_t port) { return VPlay_PlaySoundShare(port); }
VPLAY_API VPlayBool VPlay_StopSound(std::int32_t port) { return VPlay_StopSoundShare(port); }

VPLAY_API VPlayBool VPlay_PlaySoundShare(std::int32_t port) {
  return WithPort(port, VPLAY_ERR_ORDER, [](TPort& p) { return p.SetSound(true); });
}

VPLAY_API VPlayBool VPlay_StopSoundShare(std::int32_t port) {
  return WithPort(port, VPLAY_ERR_ORDER, [](TPort& p) { return p.SetSound(false); });
}

VPLAY_API VPlayBool VPlay_Stop(std::int32_t port) {
  return WithPort(port, VPLAY_ERR_ORDER, [](TPort& p) { return p.Stop(); });
}

VPLAY_API VPlayBool VPlay_CloseStream(std::int32_t port) {
  return WithPort(port, VPLAY_ERR_ORDER, [](TPort& p) { return p.CloseStream(); });
}

VPLAY_API VPlayBool VPlay_ResetSourceBuffer(std::int32_t port) {
  return WithPort(port, VPLAY_ERR_ORDER, [](TPort& p) { return p.ResetSourceBuffer(); });
}

VPLAY_API VPlayBool VPlay_ResetBuffer(std::int32_t port, std::int32_t buffer) {
  return WithPort(port, VPLAY_ERR_PARAM, [&](TPort& p) { return p.ResetBuffer(buffer); });
}

VPLAY_API VPlayBool VPlay_Fast(std::int32_t port) {
  return WithPort(port, VPLAY_ERR_ORDER, [](TPort& p) { return p.StepSpeed(+1); });
}

VPLAY_API VPlayBool VPlay_Slow(std::int32_t port) {
  return WithPort(port, VPLAY_ERR_ORDER, [](TPort& p) { return p.StepSpeed(-1); });
}

// One display device: every monitor is drawn to through the same renderer
// service, so moving between monitors needs nothing from the library.
VPLAY_API VPlayBool VPlay_InitDDrawDevice() { return 1; }

VPLAY_API VPlayBool VPlay_SetDDrawDevice(std::int32_t port, std::int32_t device) {
  return WithPort(port, VPLAY_ERR_PARAM, [&](TPort&) { return device >= 1; });
}

VPLAY_API VPlayBool VPlay_SetDisplayCallBack(std::int32_t port, VPlayDisplayCallback callback) {
  return WithPort(port, VPLAY_ERR_PARAM, [&](TPort& p) { return p.SetDisplayCallback(callback); });
}

VPLAY_API VPlayBool VPlay_SetDecCallBack(std::int32_t port, VPlayDecCallback callback) {
  return WithPort(port, VPLAY_ERR_PARAM, [&](TPort& p) { return p.SetDecCallback(callback); });
}

VPLAY_API VPlayBool VPlay_RefreshPlay(std::int32_t port) {
  return WithPort(port, VPLAY_ERR_PARAM, [](TPort& p) { return p.Refresh(); });
}

VPLAY_API VPlayBool VPlay_SetDisplayBuf(std::int32_t port, std::int32_t count) {
  return WithPort(port, VPLAY_ERR_PARAM, [&](TPort&) { return count >= 1; });
}

VPLAY_API VPlayBool VPlay_SetDisplayRegion(std::int32_t port, std::int32_t region, const VPlayRect* rect,
                                           VPlayWindow window, VPlayBool enable) {
  return WithPort(port, VPLAY_ERR_PARAM,
                  [&](TPort& p) { return p.SetDisplayRegion(region, rect, window, enable != 0); });
}

// Colour adjustment and the two verification callbacks are not offered.
VPLAY_API VPlayBool VPlay_SetColor(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                   std::int32_t) {
  return Fail(VPLAY_ERR_ORDER);
}

VPLAY_API VPlayBool VPlay_SetFileRefCallBack(std::int32_t, void (*)(std::int32_t, std::int32_t), std::int32_t) {
  return Fail(VPLAY_ERR_ORDER);
}

VPLAY_API VPlayBool VPlay_SetVerifyCallBack(std::int32_t, std::int32_t, std::int32_t,
                                            void (*)(std::int32_t, void*, std::int32_t), std::int32_t) {
  return Fail(VPLAY_ERR_ORDER);
}

VPLAY_API VPlayBool VPlay_OpenFile(std::int32_t port, const char* path) {
  if (port < 0 || port >= kPortCount || path == nullptr) return Fail(VPLAY_ERR_PARAM);
  try {
    std::shared_ptr<TPort> claimed = std::make_shared<TPort>(port);
    {
      std::lock_guard guard(g_tableLock);
      auto& slot = g_ports[static_cast<std::size_t>(port)];
      if (slot) return Fail(VPLAY_ERR_PARAM);
      slot = claimed;
    }
    if (claimed->OpenFile(path)) return 1;
    {
      std::lock_guard guard(g_tableLock);
      auto& slot = g_ports[static_cast<std::size_t>(port)];
      if (slot == claimed) slot.reset();
    }
    claimed->Shutdown();
  } catch (...) {
  }
  return Fail(VPLAY_ERR_OPEN_FILE);
}

VPLAY_API VPlayBool VPlay_CloseFile(std::int32_t port) {
  try {
    const std::shared_ptr<TPort> found = Find(port);
    if (!found || !found->IsFile()) return Fail(VPLAY_ERR_PARAM);
    return Result(Release(port), VPLAY_ERR_PARAM);
  } catch (...) {
    return Fail(VPLAY_ERR_PARAM);
  }
}

VPLAY_API std::uint32_t VPlay_GetFileTime(std::int32_t port) {
  return ValueOf<std::uint32_t>(port, [](TPort& p) { return p.FileSeconds(); });
}

VPLAY_API std::uint32_t VPlay_GetFileTotalFrames(std::int32_t port) {
  return ValueOf<std::uint32_t>(port, [](TPort& p) { return p.TotalFrames(); });
}

VPLAY_API VPlayBool VPlay_GetPictureSize(std::int32_t port, std::int32_t* width, std::int32_t* height) {
  if (width == nullptr || height == nullptr) return Fail(VPLAY_ERR_PARAM);
  return WithPort(port, VPLAY_ERR_ORDER, [&](TPort& p) { return p.PictureSize(*width, *height); });
}

VPLAY_API std::uint32_t VPlay_GetLastError(std::int32_t) { return g_lastError.load(); }

VPLAY_API std::uint32_t VPlay_GetCurrentFrameNum(std::int32_t port) {
  return ValueOf<std::uint32_t>(port, [](TPort& p) { return p.FrameNumber(); });
}

VPLAY_API VPlayBool VPlay_Pause(std::int32_t port, std::int32_t pause) {
  return WithPort(port, VPLAY_ERR_ORDER, [&](TPort& p) { return p.Pause(pause != 0); });
}

VPLAY_API VPlayBool VPlay_SetPlayPos(std::int32_t port, float position) {
  return WithPort(port, VPLAY_ERR_PARAM, [&](TPort& p) { return p.SetPlayPosition(position); });
}

VPLAY_API float VPlay_GetPlayPos(std::int32_t port) {
  return ValueOf<float>(port, [](TPort& p) { return p.PlayPosition(); });
}

VPLAY_API std::uint32_t VPlay_GetPlayedTime(std::int32_t port) {
  return ValueOf<std::uint32_t>(port, [](TPort& p) { return p.PlayedSeconds(); });
}

VPLAY_API void VPlay_SetOutputFactories(const ospry::TRendererFactory* renderers,
                                        const ospry::TWaveOutputFactory* waves) {
  try {
    ospry::vendor::SetOutputFactories(renderers, waves);
  } catch (...) {
  }
}

VPLAY_API void VPlay_SetClock(ospry::IClock* clock) { ospry::vendor::SetPacingClock(clock); }

}  // extern "C"
