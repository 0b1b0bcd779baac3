#include "tools/clip/PlayOutputs.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QString>
#include <QTimer>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <ostream>

#include "platform/Clock.h"
#include "viewer/playback/U_WaveStream.h"
#include "viewer/render/U_RenderWindow.h"
#include "viewer/render/YUVPlayback.h"

namespace ospry::clip {

namespace {

// The application object once its outputs are gone (see ~TPlayOutputs).
QGuiApplication* keptApplication = nullptr;

// Channels past this many are counted but get no window.
constexpr int kMaxWindows = 256;

std::uint64_t PackSize(int width, int height) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(width)) << 32) |
         static_cast<std::uint32_t>(height);
}
int PackedWidth(std::uint64_t size) { return static_cast<int>(size >> 32); }
int PackedHeight(std::uint64_t size) { return static_cast<int>(size & 0xFFFFFFFFu); }

bool HasEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// Whether the X server DISPLAY names accepts a connection.
bool XServerAnswers() {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool answers = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);  // also frees a connection that failed
  return answers;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The counting renderer first (it notes when the picture was due), then the
// real one; the picture's size is left for the main thread to fit the window.
class TChainedRenderer final : public IYuvRenderer {
public:
  TChainedRenderer(std::unique_ptr<IYuvRenderer> counting, std::unique_ptr<IYuvRenderer> real,
                   std::atomic<std::uint64_t>& pictureSize)
      : counting_(std::move(counting)), real_(std::move(real)), pictureSize_(pictureSize) {}

  void DrawFrame(const std::uint8_t* picture, int width, int height, int frameType,
                 TWindowHandle window) override {
    if (counting_) counting_->DrawFrame(picture, width, height, frameType, window);
    if (width > 0 && height > 0) pictureSize_.store(PackSize(width, height));
    real_->DrawFrame(picture, width, height, frameType, window);
  }
  void Repaint() override {
    if (counting_) counting_->Repaint();
    real_->Repaint();
  }

private:
  std::unique_ptr<IYuvRenderer> counting_;
  std::unique_ptr<IYuvRenderer> real_;
  std::atomic<std::uint64_t>& pictureSize_;
};

// The wave stream, noting what it did; a refused Open is said once per run.
class TReportingWave final : public IWaveOutput {
public:
  explicit TReportingWave(TPlayOutputs::TSoundStats& stats) : stats_(stats) {}

  bool Open(const TWaveFormat& format) override {
    if (stream_.Open(format)) {
      stats_.sampleRate.store(format.sampleRate);
      stats_.channels.store(format.channels);
      stats_.opened.store(true);
      return true;
    }
    if (!stats_.failed.exchange(true)) {
      std::cerr << "play: no sound: no PulseAudio server answered, or it refused " << format.sampleRate
                << " Hz with " << format.channels << " channel(s); playing silently\n";
    }
    return false;
  }
  void Write(const std::uint8_t* samples, std::int32_t size) override {
    if (samples && size > 0 && stream_.IsOpen()) stats_.bytes.fetch_add(size);
    stream_.Write(samples, size);
  }
  void Close() override { stream_.Close(); }
  bool IsOpen() const override { return stream_.IsOpen(); }

private:
  TWaveStream stream_;
  TPlayOutputs::TSoundStats& stats_;
};

}  // namespace

struct TPlayOutputs::TChannelWindow {
  std::unique_ptr<TRenderWindow> window;
  std::atomic<std::uint64_t> pictureSize{0};  // written by the render thread
  std::uint64_t fittedSize = 0;               // main thread only
  bool shown = false;                         // main thread only
};

TPlayOutputs::TPlayOutputs(const TPlayOutputOptions& options) : options_(options) {}

std::unique_ptr<TPlayOutputs> TPlayOutputs::Make(const TPlayOutputOptions& options, std::string& error) {
  std::unique_ptr<TPlayOutputs> outputs(new TPlayOutputs(options));
  if (!options.window) return outputs;

  // Qt ends the process when its platform cannot start; refuse before that
  // where the reason is plain.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const bool hasPlatform = platform && *platform;
  if (!hasPlatform && !HasEnv("DISPLAY") && !HasEnv("WAYLAND_DISPLAY")) {
    error = "--window needs a display: neither DISPLAY nor WAYLAND_DISPLAY is set "
            "(QT_QPA_PLATFORM=offscreen draws without one)";
    return nullptr;
  }
  const bool usesX = hasPlatform ? std::strncmp(platform, "xcb", 3) == 0 : !HasEnv("WAYLAND_DISPLAY");
  if (usesX && !HasEnv("DISPLAY")) {
    error = "--window: QT_QPA_PLATFORM is xcb but DISPLAY is not set";
    return nullptr;
  }
  if (usesX && !XServerAnswers()) {
    error = std::string("--window: cannot connect to the X display ") + std::getenv("DISPLAY");
    return nullptr;
  }

  outputs->argv_[0] = outputs->programName_.data();
  outputs->app_ = std::make_unique<QGuiApplication>(outputs->argc_, outputs->argv_);
  // The run ends when the time is up or every window was closed, never
  // through Qt's quit (which would also end every later wait at once).
  QGuiApplication::setQuitOnLastWindowClosed(false);
  return outputs;
}

TPlayOutputs::~TPlayOutputs() {
  windows_.clear();
  // The application object stays until the process ends: deleting it closes
  // the display and unloads the OpenGL driver, whose own process-lifetime
  // allocations the leak checker would then report as leaks it cannot name.
  if (app_) keptApplication = app_.release();
}

TPlayOutputs::TChannelWindow* TPlayOutputs::ChannelWindow(int channel) {
  if (!app_ || channel < 0 || channel >= kMaxWindows) return nullptr;
  while (static_cast<int>(windows_.size()) <= channel) {
    auto entry = std::make_unique<TChannelWindow>();
    entry->window = std::make_unique<TRenderWindow>();
    entry->window->setTitle(QString::fromStdString(BaseName(options_.file) + " - channel " +
                                                   std::to_string(windows_.size())));
    windows_.push_back(std::move(entry));
  }
  return windows_[static_cast<std::size_t>(channel)].get();
}

TWindowHandle TPlayOutputs::Window(int channel) {
  if (TChannelWindow* entry = ChannelWindow(channel)) return entry->window->Handle();
  // Without windows a stand-in number; it must not name a real window.
  return app_ ? kNoWindow : static_cast<TWindowHandle>(channel + 1);
}

TRendererFactory TPlayOutputs::Renderer(int channel, TRendererFactory counting) {
  TChannelWindow* entry = ChannelWindow(channel);
  if (!entry) return counting;
  std::atomic<std::uint64_t>* pictureSize = &entry->pictureSize;
  TRendererFactory real = MakeYuvRendererFactory();
  return [counting = std::move(counting), real = std::move(real), pictureSize]() -> std::unique_ptr<IYuvRenderer> {
    return std::make_unique<TChainedRenderer>(counting ? counting() : nullptr, real(), *pictureSize);
  };
}

TWaveOutputFactory TPlayOutputs::Wave() {
  if (!options_.sound) return {};
  return [this]() -> std::unique_ptr<IWaveOutput> { return std::make_unique<TReportingWave>(sound_); };
}

bool TPlayOutputs::Wait(int ms) {
  if (!app_) {
    SystemClock().SleepMs(ms);
    return true;
  }
  {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
  }
  FitWindows();
  bool anyShown = false;
  for (const auto& entry : windows_) {
    if (!entry->shown) continue;
    anyShown = true;
    if (entry->window->isVisible()) return true;
  }
  return !anyShown;
}

void TPlayOutputs::FitWindows() {
  const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(windows_.size()))));
  for (std::size_t channel = 0; channel < windows_.size(); ++channel) {
    TChannelWindow& entry = *windows_[channel];
    const std::uint64_t size = entry.pictureSize.load();
    if (size == 0 || size == entry.fittedSize) continue;
    const int width = PackedWidth(size), height = PackedHeight(size);
    entry.window->resize(width, height);
    entry.fittedSize = size;
    if (!entry.shown) {
      // Channels side by side in a grid, in channel order.
      const int column = static_cast<int>(channel) % columns, row = static_cast<int>(channel) / columns;
      entry.window->setPosition(column * (width + 8), row * (height + 32));
      entry.window->show();
      entry.shown = true;
    }
  }
}

void TPlayOutputs::WriteSummary(std::ostream& out) {
  if (app_) QCoreApplication::processEvents();  // pictures handed over last
  for (std::size_t channel = 0; channel < windows_.size(); ++channel) {
    const TChannelWindow& entry = *windows_[channel];
    if (!entry.shown) {
      out << "window " << channel << ": never shown (no picture)\n";
      continue;
    }
    const TRenderWindowStats& stats = entry.window->Stats();
    out << "window " << channel << ": " << entry.window->width() << "x" << entry.window->height() << ", "
        << (entry.window->UsesOpenGl() ? "OpenGL" : "CPU fallback") << ", "
        << stats.openGlPresents + stats.rasterPresents << " presented\n";
  }
  if (!options_.sound) return;
  if (sound_.opened.load()) {
    out << "sound: " << sound_.bytes.load() << " bytes written at " << sound_.sampleRate.load() << " Hz, "
        << sound_.channels.load() << " channel(s)\n";
  } else if (sound_.failed.load()) {
    out << "sound: silent (no PulseAudio server, or the format was refused)\n";
  } else {
    out << "sound: none (no audio reached the first channel)\n";
  }
}

}  // namespace ospry::clip
