// Pictures per second of the CPU conversion (one core) and of DrawFrame into
// a window of the picture's size, on the OpenGL path and the CPU fallback.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "viewer/render/YUVPlayback.h"
#include "viewer/render/YuvConvert.h"

namespace {

using namespace ospry;

std::vector<std::uint8_t> TestPicture(int width, int height) {
  std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) * height * 3 / 2);
  std::uint32_t seed = 1;
  for (auto& b : picture) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
  return picture;
}

void BM_ConvertYuvToRgb32(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const auto picture = TestPicture(width, height);
  std::vector<std::uint32_t> rgb(static_cast<std::size_t>(width) * height);
  const TYuvPlanes planes = PackedYv12Planes(picture.data(), width, height);
  for (auto _ : state) {
    ConvertYuvToRgb32(planes, width, height, rgb.data(), width * 4);
    benchmark::DoNotOptimize(rgb.data());
  }
  state.counters["pictures/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}
// Rates per second of CPU time: the conversion runs on one core.
BENCHMARK(BM_ConvertYuvToRgb32)->Args({704, 576})->Args({1920, 1080});

// DrawFrame on the main thread presents at once, so each iteration is one
// picture converted (or uploaded) and put on the screen.
void BM_DrawFrame(benchmark::State& state) {
  const bool openGl = state.range(0) != 0;
  const int width = static_cast<int>(state.range(1)), height = static_cast<int>(state.range(2));
  if (openGl && !OpenGlAvailable()) {
    state.SkipWithError("no OpenGL on this platform (run under an X server)");
    return;
  }
  TRenderWindow window(nullptr, openGl);
  window.resize(width, height);
  window.show();
  QElapsedTimer timer;
  timer.start();
  while (!window.isExposed() && timer.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  if (!window.isExposed()) {
    state.SkipWithError("window not exposed");
    return;
  }
  TYUVRender renderer(openGl);
  const auto picture = TestPicture(width, height);
  for (auto _ : state) {
    renderer.DrawFrame(picture.data(), width, height, 1, window.Handle());
  }
  QCoreApplication::processEvents();
  if (openGl && window.Stats().openGlPresents == 0) state.SkipWithError("OpenGL did not present");
  state.counters["pictures/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DrawFrame)
    ->ArgNames({"opengl", "w", "h"})
    ->Args({1, 704, 576})
    ->Args({1, 1920, 1080})
    ->Args({0, 704, 576})
    ->Args({0, 1920, 1080})
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
