// ospry-clip play on real outputs: render windows (--window) on a private X
// server and on Qt's offscreen platform, and sound (--sound) on a private
// PulseAudio daemon, run as the user runs them on a clip of H.264 pictures and
// µ-law sound encoded at test time.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "../container/ContainerTestUtil.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "tools/writer/ClipWriter.h"
#include "tools/writer/media/MediaClip.h"
#include "tools/writer/vendor/VendorMedia.h"
#include "tools/writer/vendor/VendorWriter.h"
#include "viewer/decoding/U_DecodeMPEG_Audio.h"

namespace ospry {
namespace {

struct TRun {
  int status = -1;
  std::string out, err;
};

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr int kFrames = 25;  // 1 s at 25 pictures per second
// A raw vendor file of 1 s, drawn by the vendor library.
constexpr int kVendorWidth = 96;
constexpr int kVendorHeight = 64;

class PlayOutputs : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    av_log_set_level(AV_LOG_ERROR);
    clipDir_ = new test::TTempDir;
    clipPath_ = WriteClip(clipDir_->File("camera.clip"));
    writer::TVendorMediaOptions vendor;
    vendor.width = kVendorWidth;
    vendor.height = kVendorHeight;
    vendorPath_ = clipDir_->File("camera.vnd");
    EXPECT_TRUE(writer::WriteRawVendorFile(vendorPath_, writer::MakeVendorStream(vendor)));
  }
  static void TearDownTestSuite() {
    delete clipDir_;
    clipDir_ = nullptr;
  }

  // H.264 pictures 40 ms apart and µ-law sound blocks between them, with
  // the sound's stream header, in one clip container.
  static std::string WriteClip(const std::string& path) {
    media::TVideoSettings video;
    video.Width = kWidth;
    video.Height = kHeight;
    video.Frames = kFrames;
    video.GopSize = 25;
    media::TAudioSettings audio;
    audio.Seconds = kFrames / 25.0;
    std::vector<media::TEncodedPacket> pictures, sound;
    std::string error;
    EXPECT_TRUE(media::EncodeVideo(video, pictures, &error)) << error;
    EXPECT_TRUE(media::EncodeAudio(audio, sound, &error)) << error;
    const TDateTime start = 46000.5;
    writer::TFileOutput out;
    EXPECT_TRUE(out.Create(path));
    writer::TContainerWriter container(out, false);
    media::AddEncodedClip(container, start, 3, pictures, 17, sound);
    const auto header = EncodeAudioHeader({17, 1, 64000, 8000});
    container.AddHeader(17, std::string_view(reinterpret_cast<const char*>(header.data()), header.size()));
    EXPECT_TRUE(container.Finish());
    EXPECT_TRUE(out.Close());
    return path;
  }

  // Runs a shell command line (environment settings and wrappers in front of
  // "$CLIP", which stands for ospry-clip) with a private temporary folder.
  TRun Run(const std::string& commandLine) {
    const std::string command = "cd " + dir_.Path() + " && export CLIP=" + OSPRY_CLIP_EXE +
                                " TMPDIR=" + dir_.Path() + " && " + commandLine + " >out.txt 2>err.txt";
    const int raw = std::system(command.c_str());
    TRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    ReadWholeFile(dir_.File("out.txt"), run.out);
    ReadWholeFile(dir_.File("err.txt"), run.err);
    return run;
  }

  static int TotalPresented(const std::string& out) {
    std::smatch match;
    return std::regex_search(out, match, std::regex("total (\\d+) presented")) ? std::stoi(match[1]) : -1;
  }

  static test::TTempDir* clipDir_;
  static std::string clipPath_;
  static std::string vendorPath_;
  test::TTempDir dir_;
};

test::TTempDir* PlayOutputs::clipDir_ = nullptr;
std::string PlayOutputs::clipPath_;
std::string PlayOutputs::vendorPath_;

// The window is sized to the picture and presents through the path the
// platform offers: OpenGL on an X server, the CPU fallback offscreen. A raw
// vendor file's pictures, drawn by the vendor library, go there too.
TEST_F(PlayOutputs, WindowPresentsTheClipsPictures) {
  struct TCase {
    const char* name;
    std::string launch;  // what runs ospry-clip
    std::string file;
    const char* seconds;  // a clip file ends by itself after 1 s, a raw file does not
    std::string size;     // of the window
    const char* path;    // as the summary names it
  };
  const std::string clipSize = std::to_string(kWidth) + "x" + std::to_string(kHeight);
  const TCase cases[] = {
      {"X server", std::string(OSPRY_XVFB_WRAPPER) + " $CLIP", clipPath_, "10", clipSize, "OpenGL"},
      {"offscreen", std::string(OSPRY_OFFSCREEN_WRAPPER) + " $CLIP", clipPath_, "10", clipSize, "CPU fallback"},
      {"raw vendor file", std::string(OSPRY_OFFSCREEN_WRAPPER) + " $CLIP", vendorPath_, "2",
       std::to_string(kVendorWidth) + "x" + std::to_string(kVendorHeight), "CPU fallback"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TRun run = Run(c.launch + " play " + c.file + " --window --seconds " + c.seconds);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err.find("play:"), std::string::npos) << run.err;
    // Most of the second's pictures reach the window.
    EXPECT_GE(TotalPresented(run.out), kFrames / 2) << run.out;
    std::smatch window;
    ASSERT_TRUE(std::regex_search(run.out, window, std::regex("window 0: (\\d+x\\d+), ([^,]+), (\\d+) presented")))
        << run.out;
    EXPECT_EQ(window[1], c.size);
    EXPECT_EQ(window[2], c.path);
    EXPECT_GE(std::stoi(window[3]), 1);
  }
}

TEST_F(PlayOutputs, WindowWithoutADisplayFailsAtOnce) {
  const std::string cases[] = {
      "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM $CLIP",
      "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb $CLIP",
      "env -u WAYLAND_DISPLAY DISPLAY=:4321 QT_QPA_PLATFORM=xcb $CLIP",  // no server there
  };
  for (const std::string& launch : cases) {
    SCOPED_TRACE(launch);
    const TRun run = Run(launch + " play " + clipPath_ + " --window --seconds 10");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("play: --window"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;  // nothing was played
  }
}

// The sound reaches the private server's null sink: its monitor records the
// tone while the clip plays.
TEST_F(PlayOutputs, SoundPlaysOnTheServer) {
  const std::string script =
      "parec -d \"$OSPRY_TEST_PULSE_MONITOR\" --raw --format=s16le --rate=8000 --channels=1 >sound.raw & "
      "recorder=$!; \"$CLIP\" play " + clipPath_ + " --sound --seconds 10; status=$?; "
      "kill $recorder; wait $recorder; exit $status";
  const TRun run = Run(std::string(OSPRY_PULSE_WRAPPER) + " sh -c '" + script + "'");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.err.find("no sound"), std::string::npos) << run.err;
  std::smatch sound;
  ASSERT_TRUE(std::regex_search(run.out, sound, std::regex("sound: (\\d+) bytes written at 8000 Hz, 1 channel")))
      << run.out;
  EXPECT_GT(std::stoll(sound[1]), 8000);  // most of 1 s of 16-bit samples

  std::string recorded;
  ASSERT_TRUE(ReadWholeFile(dir_.File("sound.raw"), recorded));
  int loudest = 0;
  for (std::size_t i = 0; i + 1 < recorded.size(); i += 2) {
    const auto sample = static_cast<std::int16_t>(static_cast<std::uint8_t>(recorded[i]) |
                                                  (static_cast<std::uint8_t>(recorded[i + 1]) << 8));
    loudest = std::max(loudest, std::abs(static_cast<int>(sample)));
  }
  EXPECT_GT(loudest, 1000) << recorded.size() << " bytes recorded";
}

// Without a server the clip plays silently, and that is said once.
TEST_F(PlayOutputs, SoundWithoutAServerPlaysSilently) {
  // The wrapper lends only its environment (its sanitizer suppressions for the
  // sound library); PULSE_SERVER points ospry-clip at no server.
  const TRun run = Run(std::string(OSPRY_PULSE_WRAPPER) + " env PULSE_SERVER=unix:" + dir_.File("no-server") +
                       " $CLIP play " + clipPath_ + " --sound --seconds 10");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::string notice = "play: no sound";
  const auto first = run.err.find(notice);
  ASSERT_NE(first, std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(notice, first + 1), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("sound: silent"), std::string::npos) << run.out;
  EXPECT_GE(TotalPresented(run.out), kFrames / 2) << run.out;
}

}  // namespace
}  // namespace ospry
