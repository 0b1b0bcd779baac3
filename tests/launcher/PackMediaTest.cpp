// ospry-pack over media files, run as a process: media encoded at test time,
// packed, then checked with ospry-clip and by decoding what was stored.
#include <gtest/gtest.h>

#include <sys/time.h>
#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "tests/launcher/TestSupport.h"
#include "tools/writer/media/MediaWriter.h"
#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_ClipSplitter.h"
#include "viewer/decoding/U_DecoderRouter.h"
#include "vplay/VendorFormat.h"

namespace ospry::pack {
namespace {

using launchertest::TPrivateTempTest;
using media::TAudioCodec;
using media::TVideoCodec;
using nlohmann::json;
namespace fs = std::filesystem;

constexpr int kFrames = 20;

std::string Quote(const std::string& text) { return "'" + text + "'"; }

struct TRun {
  int exitCode = -1;
  std::string output;  // stdout and stderr
};

TRun RunTool(const std::string& program, const std::string& arguments) {
  TRun run;
  FILE* pipe = ::popen((Quote(program) + " " + arguments + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, count);
  const int status = ::pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

json Info(const std::string& package) {
  const TRun run = RunTool(OSPRY_CLIP_TOOL, "info --json " + Quote(package));
  EXPECT_EQ(run.exitCode, 0) << run.output;
  return json::parse(run.output, nullptr, false);
}

void ExpectVerifies(const std::string& package) {
  const TRun run = RunTool(OSPRY_CLIP_TOOL, "verify " + Quote(package));
  EXPECT_EQ(run.exitCode, 0) << "ospry-clip verify " << package << ":\n" << run.output;
}

media::TVideoSettings Video(TVideoCodec codec) {
  media::TVideoSettings video;
  video.Codec = codec;
  video.Width = 176;
  video.Height = 144;
  video.Frames = kFrames;
  video.GopSize = 10;
  return video;
}

media::TAudioSettings Audio(TAudioCodec codec) {
  media::TAudioSettings audio;
  audio.Codec = codec;
  audio.Seconds = 0.8;
  if (codec == TAudioCodec::G726) audio.BitRate = 32000;
  if (codec == TAudioCodec::Aac) {
    audio.SampleRate = 44100;
    audio.BitRate = 96000;
  }
  return audio;
}

// What decoding a stored container gives, fed as the clip file source and
// the main window feed it: stream headers first, then every frame.
struct TDecoded {
  int pictures = 0;
  std::size_t pcmBytes = 0;
  std::string lastError;
};

TDecoded DecodeContainer(const TReadFile& file, std::int64_t endPosition) {
  TDecoded result;
  TClipReader reader(file, endPosition, false);
  EXPECT_TRUE(reader.Valid()) << reader.Error();
  if (!reader.Valid()) return result;
  const TIndexParser& index = *reader.Index();
  TDecoderRouter router;
  router.AddChannel(0, 10);
  router.SetSound(true);
  router.SelectSoundChannel(0);
  router.SetOnFrame([&](int, const TFrameInfo& info, const std::uint8_t*) {
    if (info.IsAudio)
      result.pcmBytes += static_cast<std::size_t>(info.DataSize);
    else
      ++result.pictures;
  });
  for (const THeaderEntry& entry : index.HeaderEntries()) {
    std::string data;
    EXPECT_TRUE(index.GetHeaderData(entry.StreamKind, data));
    const TFrameHeader header{entry.StreamKind, kFrameStreamHeader, static_cast<std::int32_t>(data.size()), 0};
    router.DeliverFrame(0, header, reinterpret_cast<const std::uint8_t*>(data.data()));
  }
  std::vector<std::uint8_t> bytes;
  for (const TFrameEntry& entry : index.Frames()) {
    bytes.resize(static_cast<std::size_t>(entry.DataSize));
    EXPECT_TRUE(file.PositionalReadExact(entry.Offset, bytes.data(), entry.DataSize));
    router.DeliverFrame(0, TFrameHeader{entry.StreamKind, entry.FrameType, entry.DataSize, entry.Stamp}, bytes.data());
  }
  result.lastError = router.GetLastError();
  return result;
}

// Frames must lie in time order and begin with a picture that can be decoded.
void ExpectRecordingOrder(const TIndexParser& index, std::uint8_t videoKind) {
  ASSERT_GT(index.FrameCount(), 0);
  for (std::int32_t i = 1; i < index.FrameCount(); ++i) EXPECT_LE(index.Frame(i - 1).Stamp, index.Frame(i).Stamp) << i;
  for (const TFrameEntry& frame : index.Frames()) {
    if (frame.StreamKind != videoKind || frame.FrameType == kFrameAudio) continue;
    EXPECT_EQ(frame.FrameType, kFrameKey) << "the first picture stored is a key frame";
    break;
  }
}

class PackMediaTest : public TPrivateTempTest {
protected:
  void SetUp() override {
    TPrivateTempTest::SetUp();
    fs::create_directories(work_ / "out");
  }
  std::string Output(const std::string& name = "Yard package") const { return (work_ / "out" / name).string(); }
  std::string WriteMedia(const std::string& name, const std::string& format, const media::TVideoSettings& video,
                         const media::TAudioSettings* audio, const media::TMediaMetadata& metadata = {}) {
    const std::string path = (work_ / name).string();
    std::string error;
    EXPECT_TRUE(media::WriteMediaFile(path, format, &video, audio, metadata, &error)) << error;
    return path;
  }
  TRun Pack(const std::vector<std::string>& inputs, const std::string& options, const std::string& output) {
    std::string arguments;
    for (const std::string& input : inputs) arguments += Quote(input) + " ";
    return RunTool(OSPRY_PACK_TOOL, arguments + "-o " + Quote(output) + " --launcher " + Quote(OSPRY_TEST_PACKAGE) + " " +
                                    options);
  }
};

TEST_F(PackMediaTest, EachCodecIsStoredAsItsKindAndDecodes) {
  struct TCase {
    const char* name;
    const char* format;
    TVideoCodec video;
    std::optional<TAudioCodec> audio;
    std::uint8_t videoKind;
    std::uint8_t audioKind;
  };
  const TCase cases[] = {
      // MP4 and Matroska keep H.264 and MPEG-4 configuration aside; raw
      // streams and AVI carry it in band.
      {"h264 + aac.mp4", "mp4", TVideoCodec::H264, TAudioCodec::Aac, 3, 20},
      {"mpeg4 + mulaw.mkv", "matroska", TVideoCodec::Mpeg4, TAudioCodec::Mulaw, 15, 17},
      {"h264 + g726.mkv", "matroska", TVideoCodec::H264, TAudioCodec::G726, 3, 18},
      {"mjpeg.avi", "avi", TVideoCodec::Mjpeg420, std::nullopt, 16, 0},
      {"annex b.h264", "h264", TVideoCodec::H264, std::nullopt, 3, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const media::TAudioSettings audio = Audio(c.audio.value_or(TAudioCodec::Mulaw));
    const std::string input = WriteMedia(c.name, c.format, Video(c.video), c.audio ? &audio : nullptr);
    const TRun pack = Pack({input}, "--description 'Yard, night'", Output());
    ASSERT_EQ(pack.exitCode, 0) << pack.output;
    ExpectVerifies(Output());

    TReadFile file(Output());
    TClipReader reader(file, file.Size(), false);
    ASSERT_TRUE(reader.Valid()) << reader.Error();
    EXPECT_EQ(reader.Description(), "Yard, night");
    const TIndexParser& index = *reader.Index();
    ExpectRecordingOrder(index, c.videoKind);
    EXPECT_GE(index.Frame(0).Offset, FileSize(OSPRY_TEST_PACKAGE));
    int videoFrames = 0, audioFrames = 0;
    for (const TFrameEntry& frame : index.Frames()) {
      if (frame.StreamKind == c.videoKind) {
        ++videoFrames;
        if (c.videoKind == 16) {
          EXPECT_EQ(frame.FrameType, kFrameKey);
        }
      } else {
        EXPECT_EQ(frame.StreamKind, c.audioKind);
        EXPECT_EQ(frame.FrameType, kFrameAudio);
        ++audioFrames;
      }
    }
    EXPECT_EQ(videoFrames, kFrames);
    EXPECT_EQ(audioFrames > 0, c.audio.has_value());
    std::string audioHeader;
    EXPECT_EQ(index.GetHeaderData(c.audioKind, audioHeader) && audioHeader.size() == 13, c.audio.has_value());
    ASSERT_EQ(index.ClipCount(), 1);
    EXPECT_EQ(index.Clip(0).FrameCount, index.FrameCount());
    EXPECT_EQ(index.Clip(0).Start, index.Frame(0).Stamp);

    const TDecoded decoded = DecodeContainer(file, file.Size());
    EXPECT_EQ(decoded.lastError, "");
    EXPECT_EQ(decoded.pictures, kFrames);
    EXPECT_EQ(decoded.pcmBytes > 0, c.audio.has_value());
  }
}

// Sets a file's modification time to unixSeconds.
void SetModified(const std::string& path, std::time_t unixSeconds) {
  const timeval times[2] = {{unixSeconds, 0}, {unixSeconds, 0}};
  ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

TEST_F(PackMediaTest, SeveralFilesMakeAMultiClipFileWithTheNamesGivenOrDefaults) {
  const media::TAudioSettings mulaw = Audio(TAudioCodec::Mulaw);
  // 08:00 UTC is 10:00 in Berlin in June.
  const std::string dated = WriteMedia("gate.mp4", "mp4", Video(TVideoCodec::H264), nullptr,
                                       {{"creation_time", "2026-06-01T08:00:00.000000Z"}});
  const std::string undated = WriteMedia("car park east side.mkv", "matroska", Video(TVideoCodec::Mpeg4), &mulaw);
  SetModified(undated, 1736942400);  // 2025-01-15 12:00 UTC, 13:00 in Berlin

  struct TCase {
    const char* what;
    std::string options;
    int mode;
    std::vector<std::string> channels;
    std::string recorder, user, host;
    std::vector<std::string> starts;
  };
  const TCase cases[] = {
      {"defaults", "", 0, {"gate", "car park east side"}, "N/A", "N/A", "N/A",
       {"2026/06/01 10:00:00.000", "2025/01/15 13:00:00.000"}},
      {"given, in sync",
       "--mode sync --recorder 'Yard recorder' --channel Gate --channel 'Car park' --user 'night shift' "
       "--host 10.0.0.7 --start '2026-12-11 09:30:00'",
       1, {"Gate", "Car park"}, "Yard recorder", "night shift", "10.0.0.7",
       {"2026/12/11 09:30:00.000", "2026/12/11 09:30:00.000"}},
      {"play list named", "--mode playlist --channel North --start 2026-12-11T21:00:00.250", 0,
       {"North", "North"}, "N/A", "N/A", "N/A", {"2026/12/11 21:00:00.250", "2026/12/11 21:00:00.250"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const TRun pack = Pack({dated, undated}, c.options + " --description 'Both gates'", Output());
    ASSERT_EQ(pack.exitCode, 0) << pack.output;
    ExpectVerifies(Output());

    const json info = Info(Output());
    ASSERT_TRUE(info.contains("multiClip")) << info.dump(2);
    const json& multi = info["multiClip"];
    EXPECT_EQ(multi["mode"], c.mode);
    EXPECT_EQ(multi["description"], "Both gates");
    ASSERT_EQ(multi["clipCount"], 2);
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(i);
      for (const json& recorder : {multi["clips"][i]["recorder"], info["containers"][i]["recorders"][0]}) {
        EXPECT_EQ(recorder["channel"], c.channels[i]);
        EXPECT_EQ(recorder["recorder"], c.recorder);
        EXPECT_EQ(recorder["user"], c.user);
        EXPECT_EQ(recorder["host"], c.host);
        EXPECT_EQ(recorder["start"], c.starts[i]);
        EXPECT_GT(recorder["end"].get<std::string>(), recorder["start"].get<std::string>());
      }
      EXPECT_EQ(info["containers"][i]["clips"][0]["start"], c.starts[i]);
    }
    TClipSplitter splitter(Output(), false);
    ASSERT_TRUE(splitter.Valid());
    for (const TMultiClipEntry& entry : splitter.Clips()) {
      const TDecoded decoded = DecodeContainer(splitter.File(), entry.EndPosition);
      EXPECT_EQ(decoded.pictures, kFrames);
    }
  }
}

// The types of the NAL units of an access unit in start-code form.
std::vector<int> NalUnitTypes(const std::string& bytes) {
  std::vector<int> types;
  for (std::size_t i = 0; i + 3 < bytes.size(); ++i) {
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
      types.push_back(bytes[i + 3] & 0x1F);
      i += 2;
    }
  }
  return types;
}

// The kind-2 clip of the vendor format: each access unit in start-code form
// (key frames with their parameter sets) inside the vendor's stream packets.
TEST_F(PackMediaTest, VendorFormatWrapsH264AndMulawAsKind2) {
  const media::TAudioSettings mulaw = Audio(TAudioCodec::Mulaw);
  const std::string input = WriteMedia("gate.mkv", "matroska", Video(TVideoCodec::H264), &mulaw);
  const TRun pack = Pack({input}, "--vendor --library " + Quote(OSPRY_TEST_VPLAY_PAYLOAD), Output());
  ASSERT_EQ(pack.exitCode, 0) << pack.output;
  ExpectVerifies(Output());

  TReadFile file(Output());
  TClipReader reader(file, file.Size(), false);
  ASSERT_TRUE(reader.Valid());
  const TIndexParser& index = *reader.Index();
  ExpectRecordingOrder(index, 2);
  std::string header;
  ASSERT_TRUE(index.GetHeaderData(2, header));
  vendor::TStreamHeader decodedHeader;
  ASSERT_TRUE(vendor::TStreamHeader::Decode(reinterpret_cast<const std::uint8_t*>(header.data()), header.size(),
                                            decodedHeader));
  EXPECT_EQ(decodedHeader.width, 176);
  EXPECT_EQ(decodedHeader.audioCodec, vendor::kAudioMulaw);
  ASSERT_EQ(reader.Sections().size(), 1u);
  EXPECT_EQ(reader.Sections()[0].Name, "libVPlay.so");
  EXPECT_EQ(reader.SectionData()[0], launchertest::ReadFileText(OSPRY_TEST_VPLAY_PAYLOAD));

  int pictures = 0, keyPictures = 0, blocks = 0;
  std::string bytes;
  for (const TFrameEntry& entry : index.Frames()) {
    ASSERT_EQ(entry.StreamKind, 2);
    bytes.resize(static_cast<std::size_t>(entry.DataSize));
    ASSERT_TRUE(file.PositionalReadExact(entry.Offset, bytes.data(), entry.DataSize));
    vendor::TPsParser parser;
    parser.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    parser.Flush();
    vendor::TEsFrame frame;
    ASSERT_TRUE(parser.Next(frame));
    EXPECT_FALSE(parser.Next(frame)) << "one frame per entry";
    if (frame.stream == vendor::TStreamType::Audio) {
      EXPECT_EQ(entry.FrameType, kFrameAudio);
      ++blocks;
      continue;
    }
    ++pictures;
    ASSERT_GE(frame.data.size(), 5u);
    EXPECT_EQ(frame.data.compare(0, 4, std::string("\0\0\0\1", 4)), 0) << "start-code form";
    if (entry.FrameType == kFrameKey) {
      ++keyPictures;
      const std::vector<int> units = NalUnitTypes(frame.data);
      const auto sps = std::find(units.begin(), units.end(), 7);
      const auto idr = std::find(units.begin(), units.end(), 5);
      EXPECT_TRUE(sps < idr && idr != units.end()) << "a key frame carries its parameter sets before its picture";
    }
  }
  EXPECT_EQ(pictures, kFrames);
  EXPECT_EQ(keyPictures, 2);
  EXPECT_GT(blocks, 0);

  // Two channels in sync carry the library once, for the whole file.
  const TRun both = Pack({input, input}, "--vendor --mode sync --library " + Quote(OSPRY_TEST_VPLAY_PAYLOAD),
                         Output("both"));
  ASSERT_EQ(both.exitCode, 0) << both.output;
  ExpectVerifies(Output("both"));
  TClipSplitter splitter(Output("both"), false);
  ASSERT_TRUE(splitter.Valid());
  EXPECT_EQ(splitter.Mode(), kModeSyncPlay);
  EXPECT_EQ(splitter.ClipCount(), 2);
  ASSERT_EQ(splitter.Sections().size(), 1u);
  EXPECT_EQ(splitter.Sections()[0].Name, "libVPlay.so");
}

TEST_F(PackMediaTest, BadInputFailsClearlyAndLeavesNothing) {
  const std::string raw = WriteMedia("raw.mkv", "matroska", Video(TVideoCodec::RawVideo), nullptr);
  const std::string mpeg4 = WriteMedia("mpeg4.avi", "avi", Video(TVideoCodec::Mpeg4), nullptr);
  const std::string good = WriteMedia("good.mp4", "mp4", Video(TVideoCodec::H264), nullptr);
  const media::TAudioSettings aac = Audio(TAudioCodec::Aac);
  const std::string withAac = WriteMedia("aac.mp4", "mp4", Video(TVideoCodec::H264), &aac);
  const std::string text = (work_ / "notes.bin").string();
  std::ofstream(text) << "no media in here at all";
  const std::string missing = (work_ / "nope.mp4").string();

  struct TCase {
    const char* what;
    std::vector<std::string> inputs;
    std::string options;
    const char* messagePart;
  };
  const TCase cases[] = {
      {"uncompressed video", {raw}, "", "rawvideo cannot be packed"},
      {"not media at all", {text}, "", "neither a clip file nor a media file"},
      {"missing input", {good, missing}, "", "nope.mp4: cannot open"},
      {"vendor format from MPEG-4", {mpeg4}, "--vendor", "H.264 video only"},
      {"vendor format with AAC sound", {withAac}, "--vendor", "audio in aac cannot be packed"},
      {"mode for one input", {good}, "--mode sync", "--mode"},
      {"channel name too long", {good}, "--channel 'a channel name of over twenty'", "longer than"},
      {"channel names not one per input", {good, good, good}, "--channel A --channel B", "--channel"},
      {"start time unreadable", {good}, "--start yesterday", "--start"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const TRun pack = Pack(c.inputs, c.options, Output());
    EXPECT_NE(pack.exitCode, 0);
    EXPECT_NE(pack.output.find(c.messagePart), std::string::npos) << pack.output;
    EXPECT_TRUE(fs::is_empty(work_ / "out")) << "no output and no temporary file";
  }

  // A full disk, as a file size limit that is reached behind the launcher:
  // writes fail (the limit's signal is ignored, as a full disk sends none).
  const std::int64_t limitBlocks = (FileSize(OSPRY_TEST_PACKAGE) + 8192) / 512;
  const TRun full = RunTool("/bin/sh", "-c " + Quote("trap \"\" XFSZ; ulimit -f " + std::to_string(limitBlocks) +
                                                      "; exec \"$0\" \"$@\"") +
                                           " " + Quote(OSPRY_PACK_TOOL) + " " + Quote(good) + " -o " + Quote(Output()) +
                                           " --launcher " + Quote(OSPRY_TEST_PACKAGE));
  EXPECT_NE(full.exitCode, 0);
  EXPECT_NE(full.output.find("disk full"), std::string::npos) << full.output;
  EXPECT_TRUE(fs::is_empty(work_ / "out")) << "no output and no temporary file";
}

}  // namespace
}  // namespace ospry::pack
