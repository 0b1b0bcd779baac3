#pragma once
// Where `ospry-clip play` sends pictures and sound.
//
// Without --window, pictures go to the caller's (counting) renderer only and
// each channel's window handle is a stand-in number. With --window, the
// program becomes a Qt GUI application: one top-level render window per
// channel, titled with the file name and the channel, shown and sized to the
// channel's picture when its first picture is drawn (and resized when the
// picture size changes), and the counting renderer is chained in front of the
// real renderer (TYUVRender: OpenGL, or the CPU fallback where the platform
// has none). With --sound, the first channel's audio plays through the real
// wave stream on PulseAudio; when no server can be reached (or it refuses the
// format) the sound is dropped and that is said once on stderr.
//
// Threading: Make, Wait, WriteSummary and destruction run on the main thread
// (the one that made the QGuiApplication). Renderers from Renderer() are
// called on render threads (or the vendor library's threads, one at a time)
// and, like any renderer, only hand pictures over:
// the windows present them on the main thread while Wait pumps its events.
// The wave output from Wave() is called by its render throttle (under the
// throttle's lock). Renderers and wave outputs only touch atomics shared with
// this object, so no lock of this class exists.
//
// Lifetime: the object must outlive every render throttle using its
// renderers or wave outputs (destroy the throttles first).
//
// Errors: Make reports a missing display through its error text; nothing
// throws.
#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/VideoOutput.h"
#include "platform/WaveOut.h"
#include "platform/WindowHandle.h"

class QGuiApplication;

namespace ospry {
class TRenderWindow;
}

namespace ospry::clip {

struct TPlayOutputOptions {
  std::string file;   // shown in the window titles
  bool window = false;
  bool sound = false;
};

class TPlayOutputs {
public:
  // Null, with error set, when windows are asked for and there is no display
  // to show them on (no DISPLAY or WAYLAND_DISPLAY and no QT_QPA_PLATFORM, or
  // an X display that does not answer).
  static std::unique_ptr<TPlayOutputs> Make(const TPlayOutputOptions& options, std::string& error);
  ~TPlayOutputs();
  TPlayOutputs(const TPlayOutputs&) = delete;
  TPlayOutputs& operator=(const TPlayOutputs&) = delete;

  // The window channel's pictures are for (made on first use, shown with
  // the channel's first picture).
  TWindowHandle Window(int channel);
  // Renderers for channel: what counting makes, followed by the real
  // renderer into the channel's window when there are windows.
  TRendererFactory Renderer(int channel, TRendererFactory counting);
  // The sound output for the channel that plays sound; empty without --sound.
  TWaveOutputFactory Wave();
  // Waits about ms milliseconds; with windows, pumps their events meanwhile
  // and fits them to their pictures. False once the user has closed every
  // window that was shown.
  bool Wait(int ms);
  // After playing: one line per window (its size, the path that presented
  // and how many pictures it presented) and one on the sound with --sound.
  void WriteSummary(std::ostream& out);

  // What the sound output did; shared with the wave outputs made.
  struct TSoundStats {
    std::atomic<bool> failed{false};     // an Open was refused
    std::atomic<bool> opened{false};     // an Open succeeded
    std::atomic<int> sampleRate{0};      // of the last successful Open
    std::atomic<int> channels{0};
    std::atomic<std::int64_t> bytes{0};  // written while open
  };

private:
  struct TChannelWindow;
  explicit TPlayOutputs(const TPlayOutputOptions& options);
  // With windows: the channel's entry, made when first asked for.
  TChannelWindow* ChannelWindow(int channel);
  void FitWindows();

  const TPlayOutputOptions options_;
  // With --window: argc/argv must outlive the application object.
  int argc_ = 1;
  std::string programName_ = "ospry-clip";
  char* argv_[2] = {nullptr, nullptr};
  std::unique_ptr<QGuiApplication> app_;
  std::vector<std::unique_ptr<TChannelWindow>> windows_;
  TSoundStats sound_;
};

}  // namespace ospry::clip
