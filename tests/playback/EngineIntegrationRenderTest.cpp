// The engine end to end with the real renderer: three clips played as a list
// through the file player and a render throttle whose renderer is the real
// one (TYUVRender from MakeYuvRendererFactory) drawing into a shown render
// window, the test's main thread pumping events as the program's does. A
// recording renderer is chained in front to see which picture went out when.
// Runs on a private X server (OpenGL) and works on any Qt platform.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>

#include "tests/playback/EngineIntegration.h"
#include "tests/playback/RecordingOutputs.h"
#include "viewer/playback/U_FilePlayer.h"
#include "viewer/playback/U_RenderThrottle.h"
#include "viewer/render/U_RenderWindow.h"
#include "viewer/render/YUVPlayback.h"

namespace ospry {
namespace {

using namespace std::chrono_literals;

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// Runs the main thread's event loop for about ms.
void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Each picture to the recording renderer, then to the real one.
class TChainedRenderer final : public IYuvRenderer {
public:
  TChainedRenderer(std::unique_ptr<IYuvRenderer> recording, std::unique_ptr<IYuvRenderer> real)
      : recording_(std::move(recording)), real_(std::move(real)) {}
  void DrawFrame(const std::uint8_t* picture, int width, int height, int frameType,
                 TWindowHandle window) override {
    recording_->DrawFrame(picture, width, height, frameType, window);
    real_->DrawFrame(picture, width, height, frameType, window);
  }
  void Repaint() override {
    recording_->Repaint();
    real_->Repaint();
  }

private:
  std::unique_ptr<IYuvRenderer> recording_;
  std::unique_ptr<IYuvRenderer> real_;
};

// One channel as the main window builds it: a shown render window, the
// throttle drawing into it, the player, and the clip-end handler moving on
// through the list.
class TWindowChannel {
public:
  explicit TWindowChannel(std::vector<IQuernVideoSource*> playlist)
      : playlist_(std::move(playlist)),
        draws_(std::make_shared<testing::TDrawLog>()),
        throttle_(
            [draws = draws_] {
              return std::make_unique<TChainedRenderer>(testing::RecordingRendererFactory(draws)(),
                                                        MakeYuvRendererFactory()());
            },
            {}) {
    window_.resize(kWidth, kHeight);
    window_.show();
    player_.SetOnFrame([this](std::int32_t, const TFrameHeader& header, const std::uint8_t*) {
      if (header.FrameType == kFrameStreamHeader) return;
      auto picture = testing::TestPicture(header.Stamp, kWidth, kHeight);
      throttle_.Push(testing::TestPictureInfo(header.Stamp, kWidth, kHeight, window_.Handle()), picture.data());
    });
    player_.SetOnFlush([this] { throttle_.RenderAllPending(); });
    player_.SetOnClipEnd([this](IVideoSourcePlayer* player, IQuernBasicSource* ended, bool backward) {
      std::lock_guard<std::mutex> guard(lock_);
      if (ended != playlist_[current_]) return;
      const int next = static_cast<int>(current_) + (backward ? -1 : 1);
      if (next < 0 || next >= static_cast<int>(playlist_.size())) {
        if (!finished_ && backward) throttle_.FinishRun();
        finished_ = true;
        return;
      }
      current_ = static_cast<std::size_t>(next);
      player->RemoveAllSources();
      if (backward)
        playlist_[current_]->GoToEnd();
      else
        playlist_[current_]->GoToStart();
      player->AddSource(playlist_[current_]);
    });
  }

  bool WaitExposed() {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!window_.isExposed() && std::chrono::steady_clock::now() < deadline) Pump(10);
    return window_.isExposed();
  }

  // Plays the whole list from its start (or its end going backward), pumping
  // the main thread's events until the last clip ended and the pictures left
  // the queue.
  void PlayAll(double speed) {
    current_ = speed < 0 ? playlist_.size() - 1 : 0;
    for (auto* source : playlist_) source->SetSpeed(speed);
    if (speed < 0)
      playlist_[current_]->GoToEnd();
    else
      playlist_[current_]->GoToStart();
    player_.AddSource(playlist_[current_]);
    throttle_.SetSpeed(speed);
    player_.PlayAtSpeed(speed);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!Finished() && std::chrono::steady_clock::now() < deadline) Pump(10);
    player_.Pause();
    const auto drained = std::chrono::steady_clock::now() + 2s;
    while (throttle_.PendingCount() > 0 && std::chrono::steady_clock::now() < drained) Pump(10);
    Pump(50);  // the last hand-over reaches the window
  }
  bool Finished() {
    std::lock_guard<std::mutex> guard(lock_);
    return finished_;
  }
  std::vector<testing::TDrawRecord> Draws() { return draws_->Draws(); }
  const TRenderWindow& Window() const { return window_; }

private:
  std::vector<IQuernVideoSource*> playlist_;
  std::shared_ptr<testing::TDrawLog> draws_;
  TRenderWindow window_;      // outlives the throttle drawing into it
  TRenderThrottle throttle_;
  TFilePlayer player_;  // destroyed first: its thread pushes into the throttle
  std::mutex lock_;
  std::size_t current_ = 0;  // guarded by lock_
  bool finished_ = false;    // guarded by lock_
};

class EngineWithRealRenderer : public ::testing::TestWithParam<double> {};

TEST_P(EngineWithRealRenderer, PresentsTheListsPicturesInStampOrder) {
  const double speed = GetParam();
  auto clips = testing::MakeIntegrationClips(std::fabs(speed));
  ASSERT_EQ(clips->Sources().size(), 3u);
  TWindowChannel channel(clips->Sources());
  ASSERT_TRUE(channel.WaitExposed());
  channel.PlayAll(speed);
  ASSERT_TRUE(channel.Finished());

  const auto draws = channel.Draws();
  ASSERT_GE(draws.size(), 9u);
  for (std::size_t i = 1; i < draws.size(); ++i) {
    if (speed > 0)
      EXPECT_GE(draws[i].PictureStamp, draws[i - 1].PictureStamp) << "picture " << i;
    else
      EXPECT_LE(draws[i].PictureStamp, draws[i - 1].PictureStamp) << "picture " << i;
  }
  for (const auto& range : clips->ClipRanges()) {
    bool seen = false;
    for (const auto& draw : draws)
      seen = seen || (draw.PictureStamp >= range.Start && draw.PictureStamp <= range.End);
    EXPECT_TRUE(seen) << "clip at " << range.Start;
  }

  // The window presented what was drawn, each picture at most once, on
  // OpenGL wherever the platform has it.
  const TRenderWindowStats& stats = channel.Window().Stats();
  const int presented = stats.openGlPresents + stats.rasterPresents;
  EXPECT_GE(presented, 1);
  EXPECT_LE(presented, static_cast<int>(draws.size()));
  EXPECT_EQ(stats.openGlPresents > 0, OpenGlAvailable());
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    EXPECT_TRUE(OpenGlAvailable());
  }
}

INSTANTIATE_TEST_SUITE_P(Speeds, EngineWithRealRenderer, ::testing::Values(1.0, -1.0),
                         [](const ::testing::TestParamInfo<double>& info) {
                           return info.param > 0 ? std::string("Forward") : std::string("Backward");
                         });

}  // namespace
}  // namespace ospry
