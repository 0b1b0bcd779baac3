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

#include "tests/playback/EngineIntegration.h"
#include "tests/playback/PlayListChannel.h"
#include "tests/playback/RecordingOutputs.h"
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

// A shown render window and a channel drawing into it through the real
// renderer, the main thread pumping events as the program's does.
class TWindowChannel {
public:
  explicit TWindowChannel(std::vector<IQuernVideoSource*> playlist)
      : channel_(std::move(playlist), MakeYuvRendererFactory(), kWidth, kHeight, ShownWindow()) {}

  bool WaitExposed() {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!window_.isExposed() && std::chrono::steady_clock::now() < deadline) Pump(10);
    return window_.isExposed();
  }
  void PlayAll(double speed) {
    channel_.PlayAll(speed, [] { Pump(10); });
    Pump(50);  // the last hand-over reaches the window
  }
  bool Finished() { return channel_.Finished(); }
  std::vector<testing::TDrawRecord> Draws() { return channel_.Draws(); }
  const TRenderWindow& Window() const { return window_; }

private:
  TWindowHandle ShownWindow() {
    window_.resize(kWidth, kHeight);
    window_.show();
    return window_.Handle();
  }

  TRenderWindow window_;  // outlives the throttle drawing into it
  testing::TPlayListChannel channel_;
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
  testing::ExpectPlayedInOrder(draws, speed, clips->ClipRanges());

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
