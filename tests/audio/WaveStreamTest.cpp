// Wave output and volume against a private PulseAudio daemon (run-with-pulse.sh)
// whose null sink is captured from its monitor. Without the daemon only the
// no-server cases run.
#include <gtest/gtest.h>

#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "viewer/playback/U_WaveStream.h"
#include "viewer/playback/U_WaveVolume.h"

namespace ospry {
namespace {

using namespace std::chrono_literals;

constexpr int kSinkRate = 44100;  // the null sink's format: 16-bit stereo
const char* const kNoServer = "unix:/nonexistent/ospry/native";

const char* Monitor() { return std::getenv("OSPRY_TEST_PULSE_MONITOR"); }

#define NEED_SERVER() \
  if (!Monitor()) GTEST_SKIP() << "needs the private sound server of run-with-pulse.sh"

// Records the left channel of the null sink's monitor on a thread of its own
// while it lives.
class TMonitorCapture {
public:
  TMonitorCapture() {
    pa_sample_spec settings{PA_SAMPLE_S16LE, kSinkRate, 2};
    pa_buffer_attr attr{static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1),
                        static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1),
                        static_cast<std::uint32_t>(kSinkRate / 100 * 4)};
    int error = 0;
    first_ = std::chrono::steady_clock::now();
    simple_ = pa_simple_new(nullptr, "ospry-tests", PA_STREAM_RECORD, Monitor(), "capture", &settings,
                            nullptr, &attr, &error);
    if (!simple_) return;
    thread_ = std::thread([this] {
      std::int16_t chunk[441 * 2];
      while (!stop_.load()) {
        if (pa_simple_read(simple_, chunk, sizeof chunk, nullptr) < 0) break;
        std::lock_guard<std::mutex> guard(lock_);
        for (int i = 0; i < 441; ++i) left_.push_back(chunk[2 * i]);
      }
    });
    // The monitor delivers only what the sink renders after the capture
    // stream is flowing; wait for 100 ms of it before anything plays.
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard<std::mutex> guard(lock_);
        if (left_.size() >= kSinkRate / 10) break;
        if (left_.empty()) first_ = std::chrono::steady_clock::now();  // still waiting
      }
      std::this_thread::sleep_for(5ms);
    }
  }
  bool Running() const { return simple_ != nullptr; }

  // Keeps capturing until done(samples so far) or timeout, then stops. The
  // sink renders in blocks of its current latency, so the monitor may deliver
  // in bursts with long gaps: tests wait for what they expect to see instead
  // of a fixed time.
  std::vector<std::int16_t> StopWhen(
      const std::function<bool(const std::vector<std::int16_t>&)>& done,
      std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (thread_.joinable() && std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard<std::mutex> guard(lock_);
        if (done(left_)) break;
      }
      std::this_thread::sleep_for(10ms);
    }
    Stop();
    std::lock_guard<std::mutex> guard(lock_);
    return left_;
  }

  // Captures for as long as the monitor needs to deliver sound of the
  // time up to now plus margin, counted from the first sound captured.
  std::vector<std::int16_t> StopAfterNow(std::chrono::milliseconds margin = 300ms) {
    const auto elapsed = std::chrono::steady_clock::now() - first_;
    const auto wanted = static_cast<std::size_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed + margin).count() *
        kSinkRate / 1000);
    return StopWhen([wanted](const std::vector<std::int16_t>& s) { return s.size() >= wanted; });
  }

  ~TMonitorCapture() { Stop(); }

private:
  void Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    if (simple_) {
      pa_simple_free(simple_);
      simple_ = nullptr;
    }
  }

  std::chrono::steady_clock::time_point first_;  // when the first sound came
  pa_simple* simple_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<std::int16_t> left_;  // guarded by lock_
};

// A block of constant level, sampleCount frames of channels samples each.
std::vector<std::uint8_t> Block(std::int16_t level, int frames, int channels) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frames) * channels * 2);
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    bytes[i] = static_cast<std::uint8_t>(level & 0xFF);
    bytes[i + 1] = static_cast<std::uint8_t>((level >> 8) & 0xFF);
  }
  return bytes;
}

struct TRun {
  int level;
  int frames;
};

// The stretches of steady non-silent sound in a capture, in order. Samples
// within 3 % of the stretch's first sample belong to it; stretches shorter
// than minFrames (resampler edges) are left out.
std::vector<TRun> Runs(const std::vector<std::int16_t>& samples, int minFrames = 64) {
  std::vector<TRun> runs;
  std::size_t i = 0;
  while (i < samples.size()) {
    const int level = samples[i];
    std::size_t j = i + 1;
    while (j < samples.size() && std::abs(samples[j] - level) <= std::abs(level) / 33 + 1) ++j;
    if (level != 0 && static_cast<int>(j - i) >= minFrames) {
      if (!runs.empty() && std::abs(runs.back().level - level) <= std::abs(level) / 33 + 1)
        runs.back().frames += static_cast<int>(j - i);
      else
        runs.push_back({level, static_cast<int>(j - i)});
    }
    i = j;
  }
  return runs;
}

// True once runs stretches of sound have come, followed by 50 ms of silence
// (room for a block that should not have been played).
std::function<bool(const std::vector<std::int16_t>&)> HasRunsThenSilence(std::size_t runs,
                                                                          int minFrames) {
  return [runs, minFrames](const std::vector<std::int16_t>& s) {
    std::size_t silent = 0;
    while (silent < s.size() && s[s.size() - 1 - silent] == 0) ++silent;
    return silent >= kSinkRate / 20 && Runs(s, minFrames).size() >= runs;
  };
}

std::string Describe(const std::vector<TRun>& runs) {
  std::string text;
  for (const auto& r : runs) text += std::to_string(r.level) + " x " + std::to_string(r.frames) + "; ";
  return text;
}

const TWaveFormat kSinkFormat{2, kSinkRate, 16};
constexpr int kBlockFrames = kSinkRate / 50;  // 20 ms

// Blocks come out whole and in order; Close waits until the queue has played
// and leaves the held-back last block unplayed.
TEST(WaveStream, PlaysBlocksInOrderAndCloseHoldsBackTheLast) {
  NEED_SERVER();
  TMonitorCapture capture;
  ASSERT_TRUE(capture.Running());
  TWaveStream stream;
  ASSERT_TRUE(stream.Open(kSinkFormat));
  EXPECT_TRUE(stream.IsOpen());
  for (int k = 1; k <= 5; ++k) {
    const auto block = Block(static_cast<std::int16_t>(1000 * k), kBlockFrames, 2);
    stream.Write(block.data(), static_cast<std::int32_t>(block.size()));
  }
  const auto start = std::chrono::steady_clock::now();
  stream.Close();
  // Four blocks of 20 ms were still queued: Close cannot return before they
  // have played.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);
  EXPECT_FALSE(stream.IsOpen());

  const auto runs = Runs(capture.StopWhen(HasRunsThenSilence(4, 64)));
  ASSERT_EQ(runs.size(), 4u) << Describe(runs);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(runs[k].level, 1000 * (k + 1)) << Describe(runs);
    EXPECT_EQ(runs[k].frames, kBlockFrames) << Describe(runs);
  }
}

// With the one-write lag a single block is never handed to the server.
TEST(WaveStream, FirstBlockWaitsForTheSecond) {
  NEED_SERVER();
  TMonitorCapture capture;
  ASSERT_TRUE(capture.Running());
  TWaveStream stream;
  ASSERT_TRUE(stream.Open(kSinkFormat));
  const auto block = Block(4000, kBlockFrames, 2);
  stream.Write(block.data(), static_cast<std::int32_t>(block.size()));
  std::this_thread::sleep_for(100ms);
  stream.Close();
  EXPECT_TRUE(Runs(capture.StopAfterNow(), 1).empty());
}

// Opening again with another format closes (playing out what was queued) and
// reopens; a ring's worth of writes of changing sizes keeps the order.
TEST(WaveStream, FormatChangeReopensAndKeepsOrder) {
  NEED_SERVER();
  TMonitorCapture capture;
  ASSERT_TRUE(capture.Running());
  TWaveStream stream;
  ASSERT_TRUE(stream.Open(kSinkFormat));
  for (std::int16_t level : {1000, 2000}) {
    const auto block = Block(level, kBlockFrames, 2);
    stream.Write(block.data(), static_cast<std::int32_t>(block.size()));
  }
  const TWaveFormat mono{1, kSinkRate / 2, 16};
  ASSERT_TRUE(stream.Open(mono));
  EXPECT_TRUE(stream.IsOpen());
  // 34 blocks wrap the ring of 32; sizes alternate so buffers are replaced.
  for (int k = 0; k < 34; ++k) {
    const int frames = (k % 2 ? 200 : 300);
    const auto block = Block(static_cast<std::int16_t>(k % 2 ? -3000 : 3000), frames, 1);
    stream.Write(block.data(), static_cast<std::int32_t>(block.size()));
  }
  stream.Close();
  const auto runs = Runs(capture.StopWhen(HasRunsThenSilence(34, 16)), 16);
  // 1000, then the 33 queued mono blocks of alternating sign (the 34th is
  // held back); 2000 was held back when the format changed.
  ASSERT_EQ(runs.size(), 34u) << Describe(runs);
  EXPECT_EQ(runs[0].level, 1000);
  for (std::size_t k = 1; k < runs.size(); ++k) {
    const int expected = (k - 1) % 2 ? -3000 : 3000;
    EXPECT_NEAR(runs[k].level, expected, 90) << "run " << k << ": " << Describe(runs);
  }
}

TEST(WaveStream, RefusedFormatsAndMissingServerGiveClosedStream) {
  struct TCase {
    const char* what;
    TWaveFormat format;
    bool needsNoServer;
  };
  const TCase cases[] = {
      {"no server", kSinkFormat, true},
      {"24-bit samples", {2, kSinkRate, 24}, false},
      {"no channels", {0, kSinkRate, 16}, false},
      {"too many channels", {64, kSinkRate, 16}, false},
      {"no sample rate", {2, 0, 16}, false},
  };
  for (const auto& c : cases) {
    TWaveStream stream(c.needsNoServer ? kNoServer : "");
    EXPECT_FALSE(stream.Open(c.format)) << c.what;
    EXPECT_FALSE(stream.IsOpen()) << c.what;
    const auto block = Block(1000, kBlockFrames, 2);
    stream.Write(block.data(), static_cast<std::int32_t>(block.size()));
    stream.Write(block.data(), static_cast<std::int32_t>(block.size()));
    stream.Close();
  }
}

TEST(WaveVolume, WithoutServerReadsFullLeftAndCannotSet) {
  EXPECT_EQ(GetWaveVolume(kNoServer), 0x0000FFFFu);
  EXPECT_FALSE(SetWaveVolume(0x80008000u, kNoServer));
}

TEST(WaveVolume, SetsAndReadsEachChannel) {
  NEED_SERVER();
  const std::uint32_t before = GetWaveVolume();
  const std::uint32_t values[] = {0x1000C000u, 0xFFFFFFFFu, 0x00000000u, 0x80007FFFu};
  for (std::uint32_t v : values) {
    ASSERT_TRUE(SetWaveVolume(v)) << std::hex << v;
    EXPECT_EQ(GetWaveVolume(), v) << std::hex << v;
  }
  SetWaveVolume(before);
}

}  // namespace
}  // namespace ospry
