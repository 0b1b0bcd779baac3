// libVPlay.so in stream mode, loaded as the viewer loads it: a stream made by
// the writer goes in, pictures and sound come out through the callbacks.
#include <gtest/gtest.h>

#include <functional>

#include "tests/vplay/VPlayLibrary.h"
#include "tests/vplay/VPlayTestSupport.h"
#include "platform/Files.h"
#include "tools/writer/vendor/VendorClip.h"
#include "tools/writer/vendor/VendorMedia.h"
#include "viewer/container/U_ClipReader.h"

namespace ospry {
namespace {

using test::Library;
using test::TRecorder;
using test::WaitUntil;

constexpr int kPool = 1024000;

// 2 s at 25 fps with mu-law sound in 40 ms blocks; key frames at 0 and 25.
const writer::TVendorStream& Stream() {
  static const writer::TVendorStream stream = [] {
    writer::TVendorMediaOptions options;
    options.width = 64;
    options.height = 48;
    options.framesPerSecond = 25;
    options.frameCount = 50;
    options.keyInterval = 25;
    options.audioCodec = vendor::kAudioMulaw;
    options.audioSampleRate = 8000;
    options.audioBlockMs = 40;
    return writer::MakeVendorStream(options);
  }();
  return stream;
}

class VPlayStream : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(Stream().frames.empty()) << "libx264 encoding failed";
    ASSERT_TRUE(Library().VPlay_GetPort(&port_));
    TRecorder::Instance().Clear(port_);
  }
  void TearDown() override {
    Library().VPlay_FreePort(port_);
    Library().VPlay_SetOutputFactories(nullptr, nullptr);
  }

  bool Open(int pool = kPool) {
    const std::string header = Stream().HeaderBytes();
    return Library().VPlay_OpenStream(port_, reinterpret_cast<const std::uint8_t*>(header.data()),
                                      static_cast<std::int32_t>(header.size()), pool) != 0;
  }
  // Feeds bytes, waiting while the library refuses them.
  void Feed(const std::string& bytes) {
    ASSERT_TRUE(WaitUntil([&] {
      return Library().VPlay_InputData(port_, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                       static_cast<std::int32_t>(bytes.size())) != 0;
    }));
  }
  void FeedFrames(std::size_t from, std::size_t to, bool videoOnly = false) {
    for (std::size_t i = from; i < to; ++i)
      if (!videoOnly || !Stream().frames[i].isAudio) Feed(Stream().frames[i].bytes);
  }
  // Index in Stream().frames of the n-th video frame.
  static std::size_t VideoFrameIndex(std::size_t n) {
    for (std::size_t i = 0; i < Stream().frames.size(); ++i)
      if (!Stream().frames[i].isAudio && n-- == 0) return i;
    return Stream().frames.size();
  }
  std::size_t Pictures() { return TRecorder::Instance().PictureCount(port_); }

  std::int32_t port_ = -1;
};

// Whole frames per call, or the stream cut into pieces that ignore frame
// boundaries: the same pictures and sound come out.
TEST_F(VPlayStream, DecodesPicturesAndSoundWithStampsFromTheStreamStart) {
  for (const std::size_t piece : {std::size_t{0}, std::size_t{777}}) {
    SCOPED_TRACE(piece);
    TRecorder::Instance().Clear(port_);
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Library().VPlay_SetDecCallBack(port_, &TRecorder::DecodeCallback));
    ASSERT_TRUE(Library().VPlay_SetDisplayCallBack(port_, &TRecorder::DisplayCallback));
    ASSERT_TRUE(Library().VPlay_Play(port_, 5));  // a window but no renderer installed: nothing drawn
    ASSERT_TRUE(Library().VPlay_PlaySoundShare(port_));
    if (piece == 0) {
      FeedFrames(0, Stream().frames.size());
    } else {
      std::string all;
      for (const auto& frame : Stream().frames) all += frame.bytes;
      for (std::size_t at = 0; at < all.size(); at += piece) Feed(all.substr(at, piece));
    }
    ASSERT_TRUE(WaitUntil([&] { return Pictures() == 50; })) << Pictures();
    std::size_t audioBlocks = 0;
    for (const auto& frame : Stream().frames) audioBlocks += frame.isAudio ? 1 : 0;
    ASSERT_TRUE(WaitUntil([&] { return TRecorder::Instance().Get(port_).sounds.size() == audioBlocks; }));

    const test::TPortRecord record = TRecorder::Instance().Get(port_);
    for (std::size_t i = 0; i < record.pictures.size(); ++i) {
      const VPlayFrameInfo& info = record.pictures[i].info;
      EXPECT_EQ(info.width, 64);
      EXPECT_EQ(info.height, 48);
      EXPECT_EQ(record.pictures[i].size, 64 * 48 * 3 / 2);
      EXPECT_EQ(info.stamp, static_cast<std::int32_t>(i * 40)) << i;
      EXPECT_EQ(info.type, VPLAY_TYPE_YV12);
      EXPECT_EQ(info.frameRate, 25);
      EXPECT_EQ(info.frameNum, static_cast<std::int32_t>(i + 1));
    }
    // The luma of the test picture at (0, 0) is 3 * frame number: the planes
    // come out in order and from the right frame.
    EXPECT_NEAR(static_cast<std::uint8_t>(record.pictures[10].bytes[0]), 30, 6);
    for (std::size_t k = 0; k < record.sounds.size(); ++k) {
      EXPECT_EQ(record.sounds[k].size, 320 * 2) << "40 ms of 8 kHz mono as 16-bit PCM";
      EXPECT_EQ(record.sounds[k].info.type, VPLAY_TYPE_PCM16);
      EXPECT_EQ(record.sounds[k].info.stamp, static_cast<std::int32_t>(k * 40));
    }
    EXPECT_EQ(record.displayStamps.size(), 50u);
    EXPECT_EQ(Library().VPlay_GetCurrentFrameNum(port_), 50u);
    ASSERT_TRUE(Library().VPlay_CloseStream(port_));
    EXPECT_FALSE(Library().VPlay_CloseStream(port_)) << "already closed";
  }
}

// A kind-2 clip: the container's stream header and frame entries, read back
// by the container reader, decode like the stream they came from.
TEST_F(VPlayStream, KindTwoClipFramesDecodeFromTheContainer) {
  const std::string path = test::TempPath("kind2.clip");
  const std::int32_t secondClip = static_cast<std::int32_t>(VideoFrameIndex(25));
  const TDateTime start = EncodeDateTime({2026, 12, 11, 10, 0, 0, 0});
  {
    writer::TFileOutput out;
    ASSERT_TRUE(out.Create(path));
    writer::TContainerWriter container(out, false);
    EXPECT_FALSE(writer::AddVendorClips(container, Stream(), start, {secondClip}))
        << "counts must cover every frame";
    ASSERT_TRUE(writer::AddVendorClips(
        container, Stream(), start, {secondClip, static_cast<std::int32_t>(Stream().frames.size()) - secondClip}));
    ASSERT_TRUE(container.Finish() && out.Close());
  }
  TReadFile file(path);
  TClipReader reader(file, file.Size(), false);
  ASSERT_TRUE(reader.Valid()) << reader.Error();
  const TIndexParser& index = *reader.Index();
  std::string header;
  ASSERT_TRUE(index.GetHeaderData(writer::kVendorStreamKind, header));
  ASSERT_EQ(header, Stream().HeaderBytes());
  ASSERT_EQ(index.ClipCount(), 2);
  EXPECT_EQ(index.Frame(index.Clip(0).FrameCount).FrameType, 1) << "the second clip starts on a key frame";

  ASSERT_TRUE(Library().VPlay_OpenStream(port_, reinterpret_cast<const std::uint8_t*>(header.data()), 40, kPool));
  ASSERT_TRUE(Library().VPlay_SetDecCallBack(port_, &TRecorder::DecodeCallback));
  ASSERT_TRUE(Library().VPlay_Play(port_, 0));
  for (const TFrameEntry& entry : index.Frames()) {
    ASSERT_EQ(entry.StreamKind, writer::kVendorStreamKind);
    std::string payload(static_cast<std::size_t>(entry.DataSize), '\0');
    ASSERT_TRUE(file.PositionalReadExact(entry.Offset, payload.data(), entry.DataSize));
    Feed(payload);
  }
  ASSERT_TRUE(WaitUntil([&] { return Pictures() == 50; })) << Pictures();
  const test::TPortRecord record = TRecorder::Instance().Get(port_);
  EXPECT_EQ(record.pictures.back().info.stamp, 49 * 40);
  // Library stamps plus the first frame's time give the entries' times.
  const TFrameEntry& last = index.Frame(index.FrameCount() - 1);
  EXPECT_EQ(MillisecondsBetween(last.Stamp, start), Stream().frames.back().stampMs);
}

TEST_F(VPlayStream, RefusesInputWhileTheBufferIsFull) {
  ASSERT_TRUE(Open(4096));  // not playing yet: nothing is taken out
  const std::string block(1000, '\0');
  const auto input = [&](const std::string& bytes) {
    return Library().VPlay_InputData(port_, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                     static_cast<std::int32_t>(bytes.size()));
  };
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(input(block)) << i;
  EXPECT_FALSE(input(block));
  ASSERT_TRUE(Library().VPlay_Play(port_, 0));
  EXPECT_TRUE(WaitUntil([&] { return input(block) != 0; })) << "decoding makes room";
  // A block larger than the whole pool still goes into an empty buffer.
  ASSERT_TRUE(Library().VPlay_ResetSourceBuffer(port_));
  ASSERT_TRUE(Library().VPlay_Stop(port_));
  EXPECT_TRUE(input(std::string(10000, '\0')));
  EXPECT_FALSE(input(block));
}

// Queued input is dropped by buffer 1, and a second header reopens the
// stream: stamps and frame numbers start again.
TEST_F(VPlayStream, ResetAndReopenStartOver) {
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Library().VPlay_SetDecCallBack(port_, &TRecorder::DecodeCallback));
  FeedFrames(0, VideoFrameIndex(10), true);
  for (int k : {1, 2, 3, 4}) EXPECT_TRUE(Library().VPlay_ResetBuffer(port_, k)) << k;
  for (int k : {0, 5, -1}) EXPECT_FALSE(Library().VPlay_ResetBuffer(port_, k)) << k;
  ASSERT_TRUE(Library().VPlay_Play(port_, 0));
  FeedFrames(VideoFrameIndex(25), VideoFrameIndex(30), true);
  ASSERT_TRUE(WaitUntil([&] { return Pictures() == 5; })) << Pictures();
  // The dropped frames never set the stream start: frame 25 is its first.
  EXPECT_EQ(TRecorder::Instance().Get(port_).pictures.front().info.stamp, 0);

  TRecorder::Instance().Clear(port_);
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Library().VPlay_SetDecCallBack(port_, &TRecorder::DecodeCallback));
  ASSERT_TRUE(Library().VPlay_Play(port_, 0));
  FeedFrames(VideoFrameIndex(25), VideoFrameIndex(27), true);
  ASSERT_TRUE(WaitUntil([&] { return Pictures() == 2; }));
  const test::TPortRecord record = TRecorder::Instance().Get(port_);
  EXPECT_EQ(record.pictures[0].info.stamp, 0);
  EXPECT_EQ(record.pictures[1].info.stamp, 40);
  EXPECT_EQ(record.pictures[1].info.frameNum, 2);
}

TEST_F(VPlayStream, DrawsThroughTheInstalledRendererWithTheDisplayRegion) {
  auto log = std::make_shared<test::TOutputLog>();
  const TRendererFactory renderers = [log] { return std::make_unique<test::TRecordingRenderer>(log); };
  const TWaveOutputFactory waves = [log] { return std::make_unique<test::TRecordingWave>(log); };
  Library().VPlay_SetOutputFactories(&renderers, &waves);
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Library().VPlay_Play(port_, 7));
  ASSERT_TRUE(Library().VPlay_PlaySoundShare(port_));
  FeedFrames(0, VideoFrameIndex(3));
  const auto draws = [&] {
    std::lock_guard guard(log->lock);
    return log->draws;
  };
  ASSERT_TRUE(WaitUntil([&] { return draws().size() == 3; }));
  EXPECT_EQ(draws().back().width, 64);
  EXPECT_EQ(draws().back().window, 7u);

  const VPlayRect corner{0, 0, 1, 1};
  ASSERT_TRUE(Library().VPlay_SetDisplayRegion(port_, 0, &corner, 0, 0));
  ASSERT_TRUE(Library().VPlay_RefreshPlay(port_));
  EXPECT_EQ(draws().back().width, 2) << "the top-left pixel, widened to whole chroma samples";
  EXPECT_EQ(draws().back().height, 2);
  ASSERT_TRUE(Library().VPlay_SetDisplayRegion(port_, 0, nullptr, 0, 0));
  ASSERT_TRUE(Library().VPlay_RefreshPlay(port_));
  EXPECT_EQ(draws().back().width, 64);
  const VPlayRect inverted{10, 10, 5, 5};
  EXPECT_FALSE(Library().VPlay_SetDisplayRegion(port_, 0, &inverted, 0, 0));

  {
    std::lock_guard guard(log->lock);
    ASSERT_EQ(log->opened.size(), 1u);
    EXPECT_EQ(log->opened[0], (TWaveFormat{1, 8000, 16}));
    EXPECT_GT(log->soundBytes, 0u);
  }
  ASSERT_TRUE(Library().VPlay_StopSoundShare(port_));
  std::lock_guard guard(log->lock);
  EXPECT_EQ(log->closes, 1);
}

// Every port-taking call refuses a port that is not in use, and bad
// pointers are refused without harm.
TEST_F(VPlayStream, RefusesBadPortsAndArguments) {
  test::TVPlay& v = Library();
  const std::string header = Stream().HeaderBytes();
  const auto* h = reinterpret_cast<const std::uint8_t*>(header.data());
  std::int32_t w = 0;
  const std::vector<std::pair<const char*, std::function<int(std::int32_t)>>> calls = {
      {"FreePort", [&](std::int32_t p) { return v.VPlay_FreePort(p); }},
      {"OpenStream", [&](std::int32_t p) { return v.VPlay_OpenStream(p, h, 40, kPool); }},
      {"Play", [&](std::int32_t p) { return v.VPlay_Play(p, 0); }},
      {"InputData", [&](std::int32_t p) { return v.VPlay_InputData(p, h, 40); }},
      {"PlaySoundShare", [&](std::int32_t p) { return v.VPlay_PlaySoundShare(p); }},
      {"StopSoundShare", [&](std::int32_t p) { return v.VPlay_StopSoundShare(p); }},
      {"Stop", [&](std::int32_t p) { return v.VPlay_Stop(p); }},
      {"CloseStream", [&](std::int32_t p) { return v.VPlay_CloseStream(p); }},
      {"ResetSourceBuffer", [&](std::int32_t p) { return v.VPlay_ResetSourceBuffer(p); }},
      {"ResetBuffer", [&](std::int32_t p) { return v.VPlay_ResetBuffer(p, 1); }},
      {"SetDecCallBack", [&](std::int32_t p) { return v.VPlay_SetDecCallBack(p, &TRecorder::DecodeCallback); }},
      {"SetDisplayRegion", [&](std::int32_t p) { return v.VPlay_SetDisplayRegion(p, 0, nullptr, 0, 0); }},
      {"RefreshPlay", [&](std::int32_t p) { return v.VPlay_RefreshPlay(p); }},
      {"Fast", [&](std::int32_t p) { return v.VPlay_Fast(p); }},
      {"Pause", [&](std::int32_t p) { return v.VPlay_Pause(p, 1); }},
      {"SetPlayPos", [&](std::int32_t p) { return v.VPlay_SetPlayPos(p, 0.5f); }},
      {"CloseFile", [&](std::int32_t p) { return v.VPlay_CloseFile(p); }},
      {"GetPictureSize", [&](std::int32_t p) { return v.VPlay_GetPictureSize(p, &w, &w); }},
      {"GetFileTime", [&](std::int32_t p) { return static_cast<int>(v.VPlay_GetFileTime(p)); }},
      {"GetPlayedTime", [&](std::int32_t p) { return static_cast<int>(v.VPlay_GetPlayedTime(p)); }},
  };
  for (const std::int32_t bad : {-1, 64, 1000, port_ + 1}) {
    for (const auto& [name, call] : calls) EXPECT_EQ(call(bad), 0) << name << " on port " << bad;
  }
  EXPECT_FALSE(v.VPlay_GetPort(nullptr));
  EXPECT_FALSE(v.VPlay_OpenStream(port_, nullptr, 40, kPool));
  EXPECT_FALSE(v.VPlay_OpenStream(port_, h, 39, kPool));
  std::string foreign = header;
  foreign[0] = 'X';
  EXPECT_FALSE(v.VPlay_OpenStream(port_, reinterpret_cast<const std::uint8_t*>(foreign.data()), 40, kPool));
  EXPECT_FALSE(v.VPlay_InputData(port_, h, 40)) << "no stream open yet";
  ASSERT_TRUE(Open());
  EXPECT_FALSE(v.VPlay_InputData(port_, nullptr, 40));
  EXPECT_FALSE(v.VPlay_InputData(port_, h, 0));
  EXPECT_FALSE(v.VPlay_InputData(port_, h, -5));
  EXPECT_FALSE(v.VPlay_GetPictureSize(port_, nullptr, &w));
  EXPECT_FALSE(v.VPlay_CloseFile(port_)) << "a stream port is not a file";
}

TEST_F(VPlayStream, HandsOutEachOfTheSixtyFourPortsOnce) {
  std::vector<std::int32_t> taken;
  std::int32_t port = 0;
  while (Library().VPlay_GetPort(&port)) taken.push_back(port);
  EXPECT_EQ(taken.size(), 63u) << "port_ holds one";
  EXPECT_EQ(port, -1);
  for (std::int32_t p : taken) EXPECT_TRUE(Library().VPlay_FreePort(p));
  EXPECT_FALSE(Library().VPlay_FreePort(taken.front())) << "freed twice";
}

}  // namespace
}  // namespace ospry
