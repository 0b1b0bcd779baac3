#pragma once
// The call contract of libVPlay.so, the vendor player library. Callers load
// it at run time and resolve the entry points by name; the typedefs below are
// the shapes to resolve them with. Every entry point has C linkage.
//
// Results: functions returning VPlayBool give nonzero for ok. Any call with a
// port that is not in use (-1, out of 0..63, or never opened) does nothing and
// is not ok; VPlay_OpenFile is the one call that takes a free port.
//
// Threading: every entry point may be called from any thread. The decode and
// display callbacks run on the port's own decoding thread ("vplay-dec-NN" in
// stream mode, "vplay-file-NN" in file mode) with no library lock held, so a
// callback may call back into the library; VPlay_Stop never waits for a
// callback, while VPlay_CloseStream, VPlay_CloseFile and VPlay_FreePort wait
// for the running one to return (unless called from it).
#include <cstdint>

#include "platform/Clock.h"
#include "platform/VideoOutput.h"
#include "platform/WaveOut.h"

#if defined(VPLAY_BUILDING)
#define VPLAY_API __attribute__((visibility("default")))
#else
#define VPLAY_API
#endif

extern "C" {

using VPlayBool = std::int32_t;
using VPlayWindow = std::uintptr_t;  // a TWindowHandle; 0 draws nowhere

// The decode callback's frame record.
struct VPlayFrameInfo {
  std::int32_t width;      // 0 for sound
  std::int32_t height;     // 0 for sound
  std::int32_t stamp;      // milliseconds from the first frame after opening
  std::int32_t type;       // VPLAY_TYPE_*
  std::int32_t frameRate;  // frames per second from the stream header
  std::int32_t frameNum;   // pictures decoded since opening, from 1 (sound: the last picture's)
};

// Frame types of the decode callback.
enum : std::int32_t {
  VPLAY_TYPE_YV12 = 2,        // packed YV12 picture: Y, then Cr, then Cb
  VPLAY_TYPE_PCM16 = 101,     // interleaved signed 16-bit LE PCM
  VPLAY_TYPE_PCM16_ALT = 100, // the same sound format; never produced by this library
};

struct VPlayRect {
  std::int32_t left, top, right, bottom;  // pixels, right and bottom exclusive
};

using VPlayDecCallback = void (*)(std::int32_t port, const char* buffer, std::int32_t size,
                                  const VPlayFrameInfo* info, std::int32_t reserved1,
                                  std::int32_t reserved2);
using VPlayDisplayCallback = void (*)(std::int32_t port, const char* buffer, std::int32_t size,
                                      std::int32_t width, std::int32_t height, std::int32_t stamp,
                                      std::int32_t type, std::int32_t reserved);

// Stream mode.
VPLAY_API VPlayBool VPlay_GetPort(std::int32_t* port);
VPLAY_API VPlayBool VPlay_FreePort(std::int32_t port);
// header: the 40-byte "IMKH" stream header; bufferPoolSize bounds the queued
// input (clamped to 4 KiB..64 MiB).
VPLAY_API VPlayBool VPlay_OpenStream(std::int32_t port, const std::uint8_t* header, std::int32_t size,
                                     std::int32_t bufferPoolSize);
// Starts decoding (stream mode) or paced playing (file mode) into window.
VPLAY_API VPlayBool VPlay_Play(std::int32_t port, VPlayWindow window);
// Queues program-stream bytes; not ok while the input buffer cannot take
// them (a block larger than the pool is taken only into an empty buffer).
VPLAY_API VPlayBool VPlay_InputData(std::int32_t port, const std::uint8_t* data, std::int32_t size);
VPLAY_API VPlayBool VPlay_PlaySound(std::int32_t port);
VPLAY_API VPlayBool VPlay_StopSound(std::int32_t port);
VPLAY_API VPlayBool VPlay_PlaySoundShare(std::int32_t port);
VPLAY_API VPlayBool VPlay_StopSoundShare(std::int32_t port);
VPLAY_API VPlayBool VPlay_Stop(std::int32_t port);
VPLAY_API VPlayBool VPlay_CloseStream(std::int32_t port);
VPLAY_API VPlayBool VPlay_ResetSourceBuffer(std::int32_t port);
// Buffer 1 queued input, 2 the demultiplexer and decoder, 3 the picture to
// show, 4 queued sound.
VPLAY_API VPlayBool VPlay_ResetBuffer(std::int32_t port, std::int32_t buffer);
VPLAY_API VPlayBool VPlay_Fast(std::int32_t port);
VPLAY_API VPlayBool VPlay_Slow(std::int32_t port);
VPLAY_API VPlayBool VPlay_InitDDrawDevice();
VPLAY_API VPlayBool VPlay_SetDDrawDevice(std::int32_t port, std::int32_t device);
VPLAY_API VPlayBool VPlay_SetDisplayCallBack(std::int32_t port, VPlayDisplayCallback callback);
VPLAY_API VPlayBool VPlay_SetDecCallBack(std::int32_t port, VPlayDecCallback callback);
VPLAY_API VPlayBool VPlay_RefreshPlay(std::int32_t port);
VPLAY_API VPlayBool VPlay_SetDisplayBuf(std::int32_t port, std::int32_t count);
// region 0: rect (or null for the whole picture) is the part shown in the
// play window. region 1: with enable, the picture is also shown in window;
// without, that second window is dropped.
VPLAY_API VPlayBool VPlay_SetDisplayRegion(std::int32_t port, std::int32_t region, const VPlayRect* rect,
                                           VPlayWindow window, VPlayBool enable);
VPLAY_API VPlayBool VPlay_SetColor(std::int32_t port, std::int32_t region, std::int32_t brightness,
                                   std::int32_t contrast, std::int32_t saturation, std::int32_t hue);
VPLAY_API VPlayBool VPlay_SetFileRefCallBack(std::int32_t port, void (*callback)(std::int32_t, std::int32_t),
                                             std::int32_t user);
VPLAY_API VPlayBool VPlay_SetVerifyCallBack(std::int32_t port, std::int32_t begin, std::int32_t end,
                                            void (*callback)(std::int32_t, void*, std::int32_t),
                                            std::int32_t user);

// File mode.
VPLAY_API VPlayBool VPlay_OpenFile(std::int32_t port, const char* path);
VPLAY_API VPlayBool VPlay_CloseFile(std::int32_t port);
VPLAY_API std::uint32_t VPlay_GetFileTime(std::int32_t port);         // seconds, rounded up
VPLAY_API std::uint32_t VPlay_GetFileTotalFrames(std::int32_t port);  // video frames
VPLAY_API VPlayBool VPlay_GetPictureSize(std::int32_t port, std::int32_t* width, std::int32_t* height);
VPLAY_API std::uint32_t VPlay_GetLastError(std::int32_t port);        // VPLAY_ERR_*
VPLAY_API std::uint32_t VPlay_GetCurrentFrameNum(std::int32_t port);  // pictures shown
VPLAY_API VPlayBool VPlay_Pause(std::int32_t port, std::int32_t pause);
VPLAY_API VPlayBool VPlay_SetPlayPos(std::int32_t port, float position);  // fraction 0..1
VPLAY_API float VPlay_GetPlayPos(std::int32_t port);
VPLAY_API std::uint32_t VPlay_GetPlayedTime(std::int32_t port);       // whole seconds

// Our own additions for the host process (not among the vendor names).
// Installs the services the library draws and plays through; null (or an
// empty function) removes them, and drawing or sound is then skipped. Ports
// opened later use the new factories.
VPLAY_API void VPlay_SetOutputFactories(const ospry::TRendererFactory* renderers,
                                        const ospry::TWaveOutputFactory* waves);
// The clock file-mode playing is paced by; null restores the system clock.
// The clock must outlive every port that plays.
VPLAY_API void VPlay_SetClock(ospry::IClock* clock);

enum : std::uint32_t {
  VPLAY_ERR_NONE = 0,
  VPLAY_ERR_PARAM = 1,       // a bad argument
  VPLAY_ERR_ORDER = 2,       // a call in the wrong mode or order
  VPLAY_ERR_HEADER = 3,      // the stream header is not playable
  VPLAY_ERR_OPEN_FILE = 4,   // the file cannot be read or is not a vendor file
  VPLAY_ERR_BUF_FULL = 5,    // input refused while the buffer is full
};

}  // extern "C"

// The 38 names a binding resolves, in the binding's order ("VPlay_Fast" and
// "VPlay_Slow" appear twice).
inline constexpr const char* kVPlayEntryNames[38] = {
    "VPlay_GetPort", "VPlay_FreePort", "VPlay_OpenStream", "VPlay_Play", "VPlay_InputData",
    "VPlay_PlaySound", "VPlay_StopSound", "VPlay_PlaySoundShare", "VPlay_StopSoundShare",
    "VPlay_Stop", "VPlay_CloseStream", "VPlay_ResetSourceBuffer", "VPlay_Fast", "VPlay_Slow",
    "VPlay_InitDDrawDevice", "VPlay_SetDDrawDevice", "VPlay_SetDisplayCallBack",
    "VPlay_SetDecCallBack", "VPlay_RefreshPlay", "VPlay_SetDisplayBuf", "VPlay_SetDisplayRegion",
    "VPlay_ResetBuffer", "VPlay_SetColor", "VPlay_SetFileRefCallBack", "VPlay_SetVerifyCallBack",
    "VPlay_OpenFile", "VPlay_CloseFile", "VPlay_GetFileTime", "VPlay_GetFileTotalFrames",
    "VPlay_GetPictureSize", "VPlay_GetLastError", "VPlay_GetCurrentFrameNum", "VPlay_Pause",
    "VPlay_Fast", "VPlay_Slow", "VPlay_SetPlayPos", "VPlay_GetPlayPos", "VPlay_GetPlayedTime",
};
