#pragma once
// TDLLVendor: the binding of the vendor player library (libVPlay.so), loaded
// at run time and resolved by name. The decoder for stream kind 2 and the raw
// vendor file source each create one.
//
// The 38 entry points are fields in the library's table order ("VPlay_Fast"
// and "VPlay_Slow" twice). A field is empty when the library did not load or
// lacks the name; calling an empty field does nothing and reports failure
// (0), so callers never check before calling.
//
// Error policy: a library that cannot be loaded is reported once, through
// the load-failure reporter ("Could not load " and the path tried last); the
// binding is still usable, every call failing.
//
// Threading: construction and destruction on one thread; the entry fields
// are read-only after construction and may be called from any thread.
//
// Header-only, so that both the decoders and the raw vendor file source (a
// lower layer) can bind the library without a link cycle.
#include <functional>
#include <iostream>
#include <mutex>
#include <string>
#include <type_traits>

#include "platform/DynLib.h"
#include "platform/Files.h"
#include "vplay/VPlay.h"

namespace ospry {

// One resolved entry point; calling it when empty gives R{} (0, not ok).
template <class Signature>
class TVPlayEntry;

template <class R, class... Args>
class TVPlayEntry<R (*)(Args...)> {
public:
  using TFunction = R (*)(Args...);
  void Set(void* address) { function_ = reinterpret_cast<TFunction>(address); }
  bool Empty() const { return function_ == nullptr; }
  R operator()(Args... args) const {
    if (function_ != nullptr) return function_(args...);
    if constexpr (!std::is_void_v<R>) return R{};
  }

private:
  TFunction function_ = nullptr;
};

class TDLLVendor {
public:
  // The library's file name, looked for beside the program and then in the
  // temporary folder.
  static constexpr const char* kLibraryName = "libVPlay.so";

  // How a load failure reaches the user; the user interface installs a
  // message box, tests a recorder. The default writes to standard error.
  using TLoadFailureReporter = std::function<void(const std::string& message)>;
  static void SetLoadFailureReporter(TLoadFailureReporter reporter) {
    std::lock_guard guard(SharedLock());
    Reporter() = std::move(reporter);
  }
  // The renderer and wave output factories every library loaded from now on
  // draws and plays through (the viewer installs its own at start); empty
  // ones leave the library without drawing or sound.
  static void InstallOutputFactories(TRendererFactory renderers, TWaveOutputFactory waves) {
    std::lock_guard guard(SharedLock());
    Renderers() = std::move(renderers);
    Waves() = std::move(waves);
  }

  // path empty: the program's folder, then the temporary folder.
  explicit TDLLVendor(const std::string& path = "");
  ~TDLLVendor() = default;
  TDLLVendor(const TDLLVendor&) = delete;
  TDLLVendor& operator=(const TDLLVendor&) = delete;

  bool IsLoaded() const { return Module.IsLoaded(); }
  // The path the library was loaded from, or tried last.
  const std::string& LibraryPath() const { return path_; }

  TDynLib Module;
  TVPlayEntry<decltype(&::VPlay_GetPort)> GetPort;                         // 1
  TVPlayEntry<decltype(&::VPlay_FreePort)> FreePort;                       // 2
  TVPlayEntry<decltype(&::VPlay_OpenStream)> OpenStream;                   // 3
  TVPlayEntry<decltype(&::VPlay_Play)> Play;                               // 4
  TVPlayEntry<decltype(&::VPlay_InputData)> InputData;                     // 5
  TVPlayEntry<decltype(&::VPlay_PlaySound)> PlaySound;                     // 6
  TVPlayEntry<decltype(&::VPlay_StopSound)> StopSound;                     // 7
  TVPlayEntry<decltype(&::VPlay_PlaySoundShare)> PlaySoundShare;           // 8
  TVPlayEntry<decltype(&::VPlay_StopSoundShare)> StopSoundShare;           // 9
  TVPlayEntry<decltype(&::VPlay_Stop)> Stop;                               // 10
  TVPlayEntry<decltype(&::VPlay_CloseStream)> CloseStream;                 // 11
  TVPlayEntry<decltype(&::VPlay_ResetSourceBuffer)> ResetSourceBuffer;     // 12
  TVPlayEntry<decltype(&::VPlay_Fast)> Fast;                               // 13
  TVPlayEntry<decltype(&::VPlay_Slow)> Slow;                               // 14
  TVPlayEntry<decltype(&::VPlay_InitDDrawDevice)> InitDDrawDevice;         // 15
  TVPlayEntry<decltype(&::VPlay_SetDDrawDevice)> SetDDrawDevice;           // 16
  TVPlayEntry<decltype(&::VPlay_SetDisplayCallBack)> SetDisplayCallBack;   // 17
  TVPlayEntry<decltype(&::VPlay_SetDecCallBack)> SetDecCallBack;           // 18
  TVPlayEntry<decltype(&::VPlay_RefreshPlay)> RefreshPlay;                 // 19
  TVPlayEntry<decltype(&::VPlay_SetDisplayBuf)> SetDisplayBuf;             // 20
  TVPlayEntry<decltype(&::VPlay_SetDisplayRegion)> SetDisplayRegion;       // 21
  TVPlayEntry<decltype(&::VPlay_ResetBuffer)> ResetBuffer;                 // 22
  TVPlayEntry<decltype(&::VPlay_SetColor)> SetColor;                       // 23
  TVPlayEntry<decltype(&::VPlay_SetFileRefCallBack)> SetFileRefCallBack;   // 24
  TVPlayEntry<decltype(&::VPlay_SetVerifyCallBack)> SetVerifyCallBack;     // 25
  TVPlayEntry<decltype(&::VPlay_OpenFile)> OpenFile;                       // 26
  TVPlayEntry<decltype(&::VPlay_CloseFile)> CloseFile;                     // 27
  TVPlayEntry<decltype(&::VPlay_GetFileTime)> GetFileTime;                 // 28
  TVPlayEntry<decltype(&::VPlay_GetFileTotalFrames)> GetFileTotalFrames;   // 29
  TVPlayEntry<decltype(&::VPlay_GetPictureSize)> GetPictureSize;           // 30
  TVPlayEntry<decltype(&::VPlay_GetLastError)> GetLastError;               // 31
  TVPlayEntry<decltype(&::VPlay_GetCurrentFrameNum)> GetCurrentFrameNum;   // 32
  TVPlayEntry<decltype(&::VPlay_Pause)> Pause;                             // 33
  TVPlayEntry<decltype(&::VPlay_Fast)> Fast2;                              // 34
  TVPlayEntry<decltype(&::VPlay_Slow)> Slow2;                              // 35
  TVPlayEntry<decltype(&::VPlay_SetPlayPos)> SetPlayPos;                   // 36
  TVPlayEntry<decltype(&::VPlay_GetPlayPos)> GetPlayPos;                   // 37
  TVPlayEntry<decltype(&::VPlay_GetPlayedTime)> GetPlayedTime;             // 38
  // Our library's own registration calls (not among the 38): the viewer
  // hands it its renderer and wave output factories through these.
  TVPlayEntry<decltype(&::VPlay_SetOutputFactories)> SetOutputFactories;
  TVPlayEntry<decltype(&::VPlay_SetClock)> SetClock;

private:
  // Process-wide settings, guarded by SharedLock().
  static std::mutex& SharedLock() {
    static std::mutex lock;
    return lock;
  }
  static TLoadFailureReporter& Reporter() {
    static TLoadFailureReporter reporter;
    return reporter;
  }
  static TRendererFactory& Renderers() {
    static TRendererFactory factory;
    return factory;
  }
  static TWaveOutputFactory& Waves() {
    static TWaveOutputFactory factory;
    return factory;
  }
  static void ReportLoadFailure(const std::string& message);
  void Resolve();
  std::string path_;
};

inline void TDLLVendor::ReportLoadFailure(const std::string& message) {
  TLoadFailureReporter reporter;
  {
    std::lock_guard guard(SharedLock());
    reporter = Reporter();
  }
  if (reporter) {
    reporter(message);
  } else {
    std::cerr << message << '\n';
  }
}

inline TDLLVendor::TDLLVendor(const std::string& path) {
  path_ = path.empty() ? ProgramFolder() + kLibraryName : path;
  if (!Module.Load(path_)) {
    // The clip reader writes the library carried by a clip into the
    // temporary folder; the loader finds its dependencies by their own
    // paths, so no search folder needs changing.
    path_ = TempFolder() + kLibraryName;
    if (!Module.Load(path_)) {
      ReportLoadFailure("Could not load " + path_);
      return;
    }
  }
  Resolve();
  TRendererFactory renderers;
  TWaveOutputFactory waves;
  {
    std::lock_guard guard(SharedLock());
    renderers = Renderers();
    waves = Waves();
  }
  // The library copies both; it runs without drawing or sound when they
  // are empty.
  SetOutputFactories(renderers ? &renderers : nullptr, waves ? &waves : nullptr);
}

inline void TDLLVendor::Resolve() {
  const auto set = [this](auto& entry, const char* name) { entry.Set(Module.Symbol(name)); };
  set(GetPort, "VPlay_GetPort");
  set(FreePort, "VPlay_FreePort");
  set(OpenStream, "VPlay_OpenStream");
  set(Play, "VPlay_Play");
  set(InputData, "VPlay_InputData");
  set(PlaySound, "VPlay_PlaySound");
  set(StopSound, "VPlay_StopSound");
  set(PlaySoundShare, "VPlay_PlaySoundShare");
  set(StopSoundShare, "VPlay_StopSoundShare");
  set(Stop, "VPlay_Stop");
  set(CloseStream, "VPlay_CloseStream");
  set(ResetSourceBuffer, "VPlay_ResetSourceBuffer");
  set(Fast, "VPlay_Fast");
  set(Slow, "VPlay_Slow");
  set(InitDDrawDevice, "VPlay_InitDDrawDevice");
  set(SetDDrawDevice, "VPlay_SetDDrawDevice");
  set(SetDisplayCallBack, "VPlay_SetDisplayCallBack");
  set(SetDecCallBack, "VPlay_SetDecCallBack");
  set(RefreshPlay, "VPlay_RefreshPlay");
  set(SetDisplayBuf, "VPlay_SetDisplayBuf");
  set(SetDisplayRegion, "VPlay_SetDisplayRegion");
  set(ResetBuffer, "VPlay_ResetBuffer");
  set(SetColor, "VPlay_SetColor");
  set(SetFileRefCallBack, "VPlay_SetFileRefCallBack");
  set(SetVerifyCallBack, "VPlay_SetVerifyCallBack");
  set(OpenFile, "VPlay_OpenFile");
  set(CloseFile, "VPlay_CloseFile");
  set(GetFileTime, "VPlay_GetFileTime");
  set(GetFileTotalFrames, "VPlay_GetFileTotalFrames");
  set(GetPictureSize, "VPlay_GetPictureSize");
  set(GetLastError, "VPlay_GetLastError");
  set(GetCurrentFrameNum, "VPlay_GetCurrentFrameNum");
  set(Pause, "VPlay_Pause");
  set(Fast2, "VPlay_Fast");
  set(Slow2, "VPlay_Slow");
  set(SetPlayPos, "VPlay_SetPlayPos");
  set(GetPlayPos, "VPlay_GetPlayPos");
  set(GetPlayedTime, "VPlay_GetPlayedTime");
  set(SetOutputFactories, "VPlay_SetOutputFactories");
  set(SetClock, "VPlay_SetClock");
}

}  // namespace ospry
