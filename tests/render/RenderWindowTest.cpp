#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "viewer/playback/U_RenderThrottle.h"
#include "viewer/render/RenderLog.h"
#include "viewer/render/YUVPlayback.h"
#include "viewer/render/YuvConvert.h"

namespace ospry {
namespace {

struct TYuv {
  std::uint8_t y, cb, cr;
};
const TYuv kRed{82, 90, 240};
const TYuv kGreen{145, 54, 34};
const TYuv kBlue{41, 240, 110};
const TYuv kWhite{235, 128, 128};

// A packed YV12 picture of four quadrants: top left, top right, bottom left,
// bottom right.
std::vector<std::uint8_t> Quadrants(int width, int height, const TYuv (&q)[4]) {
  std::vector<std::uint8_t> p(width * height + 2 * (width / 2) * (height / 2));
  std::uint8_t* cr = p.data() + width * height;
  std::uint8_t* cb = cr + (width / 2) * (height / 2);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const TYuv& c = q[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
      p[y * width + x] = c.y;
      if (x % 2 == 0 && y % 2 == 0) {
        cr[(y / 2) * (width / 2) + x / 2] = c.cr;
        cb[(y / 2) * (width / 2) + x / 2] = c.cb;
      }
    }
  return p;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

void PumpFor(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

std::unique_ptr<TRenderWindow> ShownWindow(int width, int height, bool preferOpenGl) {
  auto window = std::make_unique<TRenderWindow>(nullptr, preferOpenGl);
  window->resize(width, height);
  window->show();
  TRenderWindow* w = window.get();
  EXPECT_TRUE(WaitUntil([w] { return w->isExposed(); }));
  return window;
}

QImage Grab(TRenderWindow& window) {
  QCoreApplication::processEvents();
  return window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

::testing::AssertionResult NearColour(QRgb actual, std::uint32_t expected, int tolerance) {
  const int dr = qRed(actual) - int((expected >> 16) & 0xFF);
  const int dg = qGreen(actual) - int((expected >> 8) & 0xFF);
  const int db = qBlue(actual) - int(expected & 0xFF);
  if (std::abs(dr) <= tolerance && std::abs(dg) <= tolerance && std::abs(db) <= tolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << std::hex << "got 0x" << (actual & 0xFFFFFF) << ", expected 0x" << (expected & 0xFFFFFF);
}

std::uint32_t Rgb(const TYuv& c) { return YuvToRgb32Pixel(c.y, c.cb, c.cr); }

// Checks the four quadrants of a window-sized grab: each quadrant's centre
// and a point 3 pixels in from the window's corner, so a picture that is
// cropped or not stretched over the whole window fails.
void ExpectQuadrants(const QImage& image, const TYuv (&q)[4], int tolerance) {
  const int w = image.width(), h = image.height();
  const QPoint centres[4] = {{w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4},
                             {3 * w / 4, 3 * h / 4}};
  const QPoint corners[4] = {{3, 3}, {w - 4, 3}, {3, h - 4}, {w - 4, h - 4}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(NearColour(image.pixel(centres[i]), Rgb(q[i]), tolerance)) << "quadrant " << i;
    EXPECT_TRUE(NearColour(image.pixel(corners[i]), Rgb(q[i]), tolerance)) << "corner " << i;
  }
}

// Collects the renderer's log messages for one test.
class TLogCapture {
public:
  TLogCapture() {
    render::SetLogObserver([this](const std::string& text, int level) {
      std::lock_guard<std::mutex> guard(lock_);
      messages_.emplace_back(text, level);
    });
  }
  ~TLogCapture() { render::SetLogObserver(nullptr); }
  int Count(const std::string& prefix, int level) {
    std::lock_guard<std::mutex> guard(lock_);
    int n = 0;
    for (const auto& [text, l] : messages_)
      if (l == level && text.rfind(prefix, 0) == 0) ++n;
    return n;
  }

private:
  std::mutex lock_;
  std::vector<std::pair<std::string, int>> messages_;
};

bool IsXcbWithOpenGl() {
  return QGuiApplication::platformName() == QLatin1String("xcb") && OpenGlAvailable();
}

const TYuv kQuadrants[4] = {kRed, kGreen, kBlue, kWhite};

// --- Accelerated path (private X server) -----------------------------------

TEST(RenderWindowOpenGl, DrawsQuadrantsInTheirColours) {
  if (!IsXcbWithOpenGl()) GTEST_SKIP() << "needs an X server with OpenGL";
  TLogCapture log;
  auto window = ShownWindow(64, 64, true);
  ASSERT_TRUE(window->UsesOpenGl());
  TYUVRender renderer;
  const auto picture = Quadrants(64, 64, kQuadrants);
  renderer.DrawFrame(picture.data(), 64, 64, 1, window->Handle());
  EXPECT_FALSE(renderer.IsFallback());
  EXPECT_GE(window->Stats().openGlPresents, 1);
  EXPECT_EQ(window->Stats().rasterPresents, 0);
  ExpectQuadrants(Grab(*window), kQuadrants, 8);
  EXPECT_EQ(log.Count("TYUVRender.InitOpenGL: Great Success!", 2), 1);
}

TEST(RenderWindowOpenGl, LargePictureIsShownWholeInSmallerWindow) {
  if (!IsXcbWithOpenGl()) GTEST_SKIP() << "needs an X server with OpenGL";
  auto window = ShownWindow(352, 288, true);
  TYUVRender renderer;
  const auto picture = Quadrants(704, 576, kQuadrants);
  renderer.DrawFrame(picture.data(), 704, 576, 1, window->Handle());
  const QImage image = Grab(*window);
  ASSERT_EQ(image.size(), QSize(352, 288));
  ExpectQuadrants(image, kQuadrants, 8);
}

TEST(RenderWindowOpenGl, NewPictureSizeRebuildsTheSurface) {
  if (!IsXcbWithOpenGl()) GTEST_SKIP() << "needs an X server with OpenGL";
  TLogCapture log;
  auto window = ShownWindow(96, 64, true);
  TYUVRender renderer;
  const auto first = Quadrants(64, 64, kQuadrants);
  renderer.DrawFrame(first.data(), 64, 64, 1, window->Handle());
  renderer.DrawFrame(first.data(), 64, 64, 1, window->Handle());
  EXPECT_EQ(window->Stats().surfaceBuilds, 1);
  const TYuv swapped[4] = {kWhite, kBlue, kGreen, kRed};
  const auto second = Quadrants(128, 96, swapped);
  renderer.DrawFrame(second.data(), 128, 96, 1, window->Handle());
  EXPECT_EQ(window->Stats().surfaceBuilds, 2);
  EXPECT_EQ(log.Count("TYUVRender.InitOpenGL: Great Success!", 2), 2);
  ExpectQuadrants(Grab(*window), swapped, 8);
}

// A draw from a worker thread is handed over and presented by the main thread.
TEST(RenderWindowOpenGl, DrawFromWorkerThreadIsPresentedOnMainThread) {
  if (!IsXcbWithOpenGl()) GTEST_SKIP() << "needs an X server with OpenGL";
  auto window = ShownWindow(64, 64, true);
  TRenderWindow* w = window.get();
  const int before = w->Stats().openGlPresents;
  TYUVRender renderer;
  const auto picture = Quadrants(64, 64, kQuadrants);
  std::thread worker([&] {
    for (int i = 0; i < 20; ++i) renderer.DrawFrame(picture.data(), 64, 64, 1, w->Handle());
  });
  worker.join();
  ASSERT_TRUE(WaitUntil([&] { return w->Stats().openGlPresents > before; }));
  QCoreApplication::processEvents();
  // Pictures replaced before the main thread came round are skipped, never
  // presented twice: twenty draws give at most twenty presents.
  EXPECT_LE(w->Stats().openGlPresents - before, 20);
  ExpectQuadrants(Grab(*w), kQuadrants, 8);
}

// The first OpenGL failure shows the picture through the backing store, and
// the renderer stays on the CPU path from then on.
TEST(RenderWindowOpenGl, FailureSwitchesToFallbackForGood) {
  if (!IsXcbWithOpenGl()) GTEST_SKIP() << "needs an X server with OpenGL";
  TLogCapture log;
  auto window = ShownWindow(64, 64, true);
  TYUVRender renderer;
  const auto picture = Quadrants(64, 64, kQuadrants);
  window->InjectOpenGlFailure();
  renderer.DrawFrame(picture.data(), 64, 64, 1, window->Handle());
  EXPECT_EQ(log.Count("TYUVRender.DrawFrame: Problem in texture upload", 0), 1);
  EXPECT_EQ(window->Stats().rasterPresents, 1);
  ExpectQuadrants(Grab(*window), kQuadrants, 0);

  renderer.DrawFrame(picture.data(), 64, 64, 1, window->Handle());
  EXPECT_TRUE(renderer.IsFallback());
  EXPECT_FALSE(window->UsesOpenGl());
  // A fresh window that could use OpenGL does not make the renderer try again.
  auto other = ShownWindow(64, 64, true);
  renderer.DrawFrame(picture.data(), 64, 64, 1, other->Handle());
  EXPECT_EQ(other->Stats().openGlPresents, 0);
  EXPECT_EQ(other->Stats().rasterPresents, 1);
}

// --- Fallback path (any platform; the offscreen run has no OpenGL) ----------

TEST(RenderWindowFallback, PixelsEqualTheIntegerFormula) {
  const bool offscreen = QGuiApplication::platformName() == QLatin1String("offscreen");
  TLogCapture log;
  // On the offscreen platform even a renderer and window that prefer OpenGL
  // must take the fallback.
  auto window = ShownWindow(66, 50, offscreen);
  TYUVRender renderer(offscreen);
  std::vector<std::uint8_t> picture(66 * 50 * 3 / 2);
  std::uint32_t seed = 12345;
  for (auto& b : picture) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
  renderer.DrawFrame(picture.data(), 66, 50, 1, window->Handle());
  EXPECT_TRUE(renderer.IsFallback());
  EXPECT_EQ(window->Stats().openGlPresents, 0);
  if (offscreen) {
    EXPECT_EQ(log.Count("TYUVRender.InitOpenGL: Failed at create context", 2), 1);
  }

  const QImage image = Grab(*window);
  ASSERT_EQ(image.size(), QSize(66, 50));
  const TYuvPlanes planes = PackedYv12Planes(picture.data(), 66, 50);
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 66; ++x) {
      const int c = (y / 2) * 33 + x / 2;
      ASSERT_EQ(image.pixel(x, y) | 0xFF000000u,
                YuvToRgb32Pixel(planes.luma[y * 66 + x], planes.cb[c], planes.cr[c]))
          << "at " << x << "," << y;
    }
}

TEST(RenderWindowFallback, StretchesOverTheWholeWindow) {
  auto window = ShownWindow(352, 288, false);
  TYUVRender renderer(false);
  const auto picture = Quadrants(704, 576, kQuadrants);
  renderer.DrawFrame(picture.data(), 704, 576, 1, window->Handle());
  ExpectQuadrants(Grab(*window), kQuadrants, 0);
}

TEST(RenderWindowFallback, RepaintPresentsTheLastPictureAgain) {
  auto window = ShownWindow(64, 64, false);
  TYUVRender renderer(false);
  const auto picture = Quadrants(64, 64, kQuadrants);
  renderer.DrawFrame(picture.data(), 64, 64, 1, window->Handle());
  const int before = window->Stats().rasterPresents;
  renderer.Repaint();
  EXPECT_EQ(window->Stats().rasterPresents, before + 1);
  ExpectQuadrants(Grab(*window), kQuadrants, 0);
}

// A hidden window keeps the picture drawn into it; shown again, it presents
// that picture itself and tells its owner.
TEST(RenderWindowFallback, ShowsLastPictureAgainWhenExposedAndTellsOwner) {
  auto window = ShownWindow(64, 64, false);
  int repaints = 0;
  window->SetRepaintHandler([&repaints] { ++repaints; });
  window->hide();
  ASSERT_TRUE(WaitUntil([&] { return !window->isExposed(); }));
  TYUVRender renderer(false);
  const auto picture = Quadrants(64, 64, kQuadrants);
  renderer.DrawFrame(picture.data(), 64, 64, 1, window->Handle());
  EXPECT_EQ(window->Stats().rasterPresents, 0);  // nothing to show it on
  window->show();
  ASSERT_TRUE(WaitUntil([&] { return window->isExposed() && repaints > 0; }));
  EXPECT_GE(window->Stats().rasterPresents, 1);
  ExpectQuadrants(Grab(*window), kQuadrants, 0);
}

// Pictures the renderer cannot draw and handles that name no live window are
// ignored without a trace.
TEST(RenderWindowFallback, IgnoresBadPicturesAndDeadHandles) {
  auto window = ShownWindow(64, 64, false);
  const TWindowHandle handle = window->Handle();
  TYUVRender renderer(false);
  const auto picture = Quadrants(64, 64, kQuadrants);
  renderer.DrawFrame(nullptr, 64, 64, 1, handle);
  renderer.DrawFrame(picture.data(), 0, 64, 1, handle);
  renderer.DrawFrame(picture.data(), 64, -2, 1, handle);
  renderer.DrawFrame(picture.data(), TYUVRender::kMaxPictureSide + 2, 2, 1, handle);
  renderer.DrawFrame(picture.data(), 64, 64, 1, kNoWindow);
  EXPECT_EQ(window->Stats().rasterPresents, 0);

  window.reset();
  EXPECT_EQ(TRenderWindowRegistry::Find(handle), nullptr);
  renderer.DrawFrame(picture.data(), 64, 64, 1, handle);
  renderer.Repaint();

  // A worker drawing while the window is destroyed finds a detached target.
  auto doomed = ShownWindow(64, 64, false);
  const TWindowHandle doomedHandle = doomed->Handle();
  std::thread worker([&] {
    TYUVRender r(false);
    for (int i = 0; i < 50; ++i) r.DrawFrame(picture.data(), 64, 64, 1, doomedHandle);
  });
  QCoreApplication::processEvents();
  doomed.reset();
  worker.join();
  QCoreApplication::processEvents();
}

// --- The playback engine with the real renderer ------------------------------

// A render throttle on its own thread, on the real clock, draws through the
// real renderer into a render window (OpenGL under X, the fallback on the
// offscreen platform); the main thread presents, and the last picture stays.
TEST(EngineWithRealRenderer, ThrottleThreadDrawsIntoRenderWindow) {
  const bool openGl = IsXcbWithOpenGl();
  auto window = ShownWindow(64, 64, true);
  const TYuv earlier[4] = {kWhite, kWhite, kBlue, kBlue};
  const int kPictures = 12;
  {
    TRenderThrottle throttle(MakeYuvRendererFactory(), {});
    throttle.SetSpeed(1.0);
    for (int i = 0; i < kPictures; ++i) {
      const auto picture = Quadrants(64, 64, i + 1 == kPictures ? kQuadrants : earlier);
      TFrameInfo info{};
      info.Width = 64;
      info.Height = 64;
      info.Window = window->Handle();
      info.Stamp = 46000.5 + i * 40 / 86400000.0;
      info.FrameType = 1;
      info.DataSize = static_cast<std::int32_t>(picture.size());
      throttle.Push(info, picture.data());
      PumpFor(40);
    }
    ASSERT_TRUE(WaitUntil([&] { return throttle.PendingCount() == 0; }));
    PumpFor(50);
  }  // the render thread stops here
  QCoreApplication::processEvents();
  const TRenderWindowStats& stats = window->Stats();
  EXPECT_GE(stats.openGlPresents + stats.rasterPresents, 1);
  EXPECT_LE(stats.openGlPresents + stats.rasterPresents, kPictures);
  EXPECT_EQ(stats.openGlPresents > 0, openGl);
  ExpectQuadrants(Grab(*window), kQuadrants, openGl ? 8 : 0);
}

}  // namespace
}  // namespace ospry
