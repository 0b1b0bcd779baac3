#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "../container/ContainerTestUtil.h"
#include "platform/Files.h"
#include "viewer/container/U_ClipSplitter.h"
#include "viewer/sources/U_FileSource.h"

namespace ospry {
namespace {

using test::At;
using writer::TContainerWriter;
using writer::TFileOutput;
using writer::TMultiClipWriter;

struct TRead {
  TReadResult result = kReadNothing;
  std::int32_t sourceId = -1;
  std::vector<std::uint8_t> data;
  TFrameHeader header;
  TDateTime time = -5;
};

TRead Read(TFileSource& source) {
  TRead r;
  r.result = source.ReadFrame(r.sourceId, r.data, r.header, r.time);
  return r;
}

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

class FileSource : public ::testing::Test {
protected:
  template <typename Fill>
  void Write(Fill fill) {
    TFileOutput out;
    ASSERT_TRUE(out.Create(path_));
    out.Write("launcher");
    TContainerWriter w(out, false);
    fill(w);
    ASSERT_TRUE(w.Finish());
    ASSERT_TRUE(out.Close());
  }
  // Frames with the given types, one per second from 10:00:00, one clip.
  void WriteTypes(const std::vector<std::uint8_t>& types) {
    Write([&](TContainerWriter& w) {
      for (std::size_t i = 0; i < types.size(); ++i)
        w.AddFrame(2, types[i], At(10, 0, static_cast<int>(i)), test::FrameBytes(static_cast<int>(i), 20));
      w.AddClipOver(0, static_cast<std::int32_t>(types.size()), At(10, 0, static_cast<int>(types.size())));
      w.AddHeader(2, std::string(40, 'H'));
    });
  }
  test::TTempDir dir_;
  std::string path_ = dir_.File("clip.bin");
};

TEST_F(FileSource, StartsWithTheStreamHeaderThenTheFrames) {
  Write([](TContainerWriter& w) {
    test::WriteSampleClip(w, 10, 5);
    w.SetDescription("Gate");
  });
  TFileSource source(3, path_, dir_.Path());
  ASSERT_TRUE(source.IsValid());
  EXPECT_EQ(source.GetDisplayName(), "clip.bin");
  EXPECT_EQ(source.GetDescription(), "Gate");
  EXPECT_EQ(source.Position(), -1);
  EXPECT_EQ(source.GetPosition(), At(10, 0, 0));

  TRead r = Read(source);
  EXPECT_EQ(r.result, kReadFrame);
  EXPECT_EQ(r.sourceId, 3);
  EXPECT_EQ(r.header.FrameType, kFrameStreamHeader);
  EXPECT_EQ(r.header.StreamKind, 2);
  EXPECT_EQ(r.header.DataSize, 40);
  EXPECT_EQ(r.header.Stamp, At(10, 0, 0));
  EXPECT_EQ(r.time, 0.0);
  EXPECT_EQ(r.data, Bytes(std::string(40, 'H')));

  for (int i = 0; i < 10; ++i) {
    r = Read(source);
    ASSERT_EQ(r.result, kReadFrame) << i;
    EXPECT_EQ(r.data, Bytes(test::FrameBytes(i, 50 + i % 7))) << i;
    EXPECT_EQ(r.header.FrameType, i % 4 == 0 ? 1 : 3);
    EXPECT_EQ(r.time, r.header.Stamp);
  }
  EXPECT_EQ(source.GetPosition(), kNoTime);
  EXPECT_EQ(Read(source).result, kReadPastEnd);
  EXPECT_EQ(source.Position(), 10);
}

TEST_F(FileSource, ReadsBackwardsHeadersThenTheLastFrameThenKeyFrames) {
  WriteTypes({1, 3, 3, 1, 3, 3, 3});
  TFileSource source(0, path_, dir_.Path());
  ASSERT_TRUE(source.IsValid());
  EXPECT_EQ(source.GoToEnd(), At(10, 0, 7));
  source.SetSpeed(-1.0);
  TRead r = Read(source);
  EXPECT_EQ(r.header.FrameType, kFrameStreamHeader);
  EXPECT_EQ(r.header.Stamp, At(10, 0, 6));
  std::vector<TDateTime> stamps;
  while ((r = Read(source)).result == kReadFrame) stamps.push_back(r.header.Stamp);
  EXPECT_EQ(r.result, kReadBeforeStart);
  EXPECT_EQ(stamps, (std::vector<TDateTime>{At(10, 0, 6), At(10, 0, 3), At(10, 0, 0)}));
}

TEST_F(FileSource, SkipPastNextKeyFrame) {
  WriteTypes({1, 3, 3, 3, 1, 3});
  TFileSource source(0, path_, dir_.Path());
  ASSERT_TRUE(source.Skip(2));  // from -1 to 1
  EXPECT_EQ(source.SkipPastNextKeyFrame(), kReadFrame);
  EXPECT_EQ(source.Position(), 5);
  EXPECT_EQ(source.SkipPastNextKeyFrame(), kReadPastEnd);
  EXPECT_EQ(source.Position(), 7);
}

TEST_F(FileSource, GopFramesSkipAndPeek) {
  WriteTypes({1, 3, 3, 1});
  TFileSource source(0, path_, dir_.Path());
  TFrameHeader peeked;
  EXPECT_EQ(source.PeekHeader(peeked), kReadFrame);
  EXPECT_EQ(peeked.FrameType, kFrameStreamHeader);
  EXPECT_EQ(source.Position(), -1);
  ASSERT_TRUE(source.Skip(1));  // frame 0, a key frame
  std::int32_t id;
  std::vector<std::uint8_t> data;
  TFrameHeader header;
  TDateTime time;
  EXPECT_EQ(source.ReadGopFrame(id, data, header, time), kReadNothing);
  EXPECT_EQ(source.Position(), 0);
  ASSERT_TRUE(source.Skip(1));
  source.SetSpeed(-2.0);
  EXPECT_EQ(source.ReadGopFrame(id, data, header, time), kReadFrame);
  EXPECT_EQ(header.Stamp, At(10, 0, 1));
  EXPECT_EQ(source.Position(), 2);  // forwards one frame despite the backward speed
  EXPECT_FALSE(source.Skip(2));
  EXPECT_FALSE(source.Skip(-3));
  EXPECT_EQ(source.Position(), 2);
  source.MarkPosition();
  ASSERT_TRUE(source.Skip(1));
  EXPECT_EQ(source.PeekHeader(peeked), kReadFrame);
  EXPECT_EQ(peeked.Stamp, At(10, 0, 3));
  source.RestorePosition();
  EXPECT_EQ(source.Position(), 2);
  source.GoToEnd();
  EXPECT_EQ(source.PeekHeader(peeked), kReadPastEnd);
}

// Seek lands on the key frame at or before the last frame stamped at or
// before the wanted time, inside the current clip too; in a gap, on the next
// clip's first key frame.
TEST_F(FileSource, SeekReachesTheWantedTimeInAnyClip) {
  // Clip 0: 10:00:00..10:00:07 (key frames at 0 and 4); clip 1: 10:00:20..10:00:27.
  Write([](TContainerWriter& w) {
    for (int clip = 0; clip < 2; ++clip)
      for (int i = 0; i < 8; ++i) w.AddFrame(2, i % 4 == 0 ? 1 : 3, At(10, 0, clip * 20 + i), "f");
    w.AddClipOver(0, 8, At(10, 0, 7));
    w.AddClipOver(8, 8, At(10, 0, 27));
  });
  TFileSource source(0, path_, dir_.Path());
  ASSERT_TRUE(source.IsValid());
  struct Case {
    TDateTime time;
    std::int32_t position;
  } cases[] = {
      {At(10, 0, 2, 500), 0},   // inside the first clip
      {At(10, 0, 6), 4},        // inside, on a frame's stamp
      {At(10, 0, 4), 4},        // exactly on a key frame
      {At(10, 0, 5, 1), 4},     // inside the clip that is playing (asked twice below)
      {At(10, 0, 12), 8},       // in the gap: the next clip's first key frame
      {At(10, 0, 25), 12},      // inside the second clip
      {At(9, 0, 0), 0},         // before the first clip
      {At(11, 0, 0), 12},       // after the last clip
  };
  for (const auto& c : cases) {
    EXPECT_EQ(source.Seek(c.time), c.time);
    EXPECT_EQ(source.Position(), c.position) << FormatDateTime("hh:nn:ss.zzz", c.time);
  }
  source.Skip(1);
  EXPECT_EQ(source.Seek(At(10, 0, 5, 1)), At(10, 0, 5, 1));
  EXPECT_EQ(source.Position(), 4);
}

TEST_F(FileSource, SegmentsJoinClipsAtMostFourSecondsApart) {
  Write([](TContainerWriter& w) {
    w.AddClip({0, 0, 0, 0, At(10, 0, 0), At(10, 0, 10), 0, 0});
    w.AddClip({0, 0, 0, 0, At(10, 0, 14), At(10, 0, 20), 1, 0});
    w.AddClip({0, 0, 0, 0, At(10, 0, 30), At(10, 0, 40), 2, 0});
  });
  TFileSource source(0, path_, dir_.Path());
  TTimeSegments segments;
  source.GetSegments(segments);
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].Start, At(10, 0, 0));
  EXPECT_EQ(segments[0].End, At(10, 0, 20));
  EXPECT_EQ(segments[1].Start, At(10, 0, 30));
  EXPECT_EQ(segments[1].End, At(10, 0, 40));
}

TEST_F(FileSource, RecorderDescription) {
  Write([](TContainerWriter& w) {
    TDvrInfo first = test::SampleInfo("Gate"), second = test::SampleInfo("Yard");
    second.EndTime = At(12, 0, 0);
    w.AddDvrInfo(first);
    w.AddDvrInfo(second);
  });
  TFileSource source(0, path_, dir_.Path());
  TDvrInfo info;
  source.GetInfo(info);
  EXPECT_EQ(info.ChannelName, "Gate");
  EXPECT_EQ(info.StartTime, At(10, 0, 0));
  EXPECT_EQ(info.EndTime, At(12, 0, 0));
  std::string dvr, channel;
  TDateTime start, end;
  ASSERT_TRUE(source.GetClipInfo(dvr, channel, start, end));
  EXPECT_EQ(dvr, "Yard recorder");
  EXPECT_EQ(end, At(12, 0, 0));

  Write([](TContainerWriter&) {});
  TFileSource bare(0, path_, dir_.Path());
  ASSERT_TRUE(bare.IsValid());
  bare.GetInfo(info);
  EXPECT_EQ(info.DvrName, "N/A");
  EXPECT_FALSE(bare.GetClipInfo(dvr, channel, start, end));
  EXPECT_EQ(bare.GoToStart(), kNoTime);
  EXPECT_EQ(bare.Seek(At(10, 0, 0)), 0.0);
  EXPECT_EQ(Read(bare).result, kReadPastEnd);
}

TEST_F(FileSource, UnreadableHeaderOrFrameIsReportedAndSkipped) {
  Write([](TContainerWriter& w) {
    w.AddHeader(2, "");  // no header bytes
    w.AddFrameEntry({2, 1, 100, At(10, 0, 0), 1 << 30});  // past the end of the file
    w.AddFrame(2, 1, At(10, 0, 1), "good");
    w.AddClipOver(0, 2, At(10, 0, 1));
  });
  TFileSource source(0, path_, dir_.Path());
  TFrameHeader peeked;
  EXPECT_EQ(source.PeekHeader(peeked), kReadFrame);
  EXPECT_EQ(Read(source).result, kReadNothing);
  EXPECT_EQ(source.GetLastError(), "Could not get header");
  EXPECT_EQ(Read(source).result, kReadNothing);
  EXPECT_EQ(source.GetLastError(), "Error in file seek or read");
  const TRead r = Read(source);
  EXPECT_EQ(r.result, kReadFrame);
  EXPECT_EQ(r.data, Bytes("good"));
}

TEST_F(FileSource, VerifyFramesNamesTheCorruptFrame) {
  std::int64_t offset = 0;
  Write([&](TContainerWriter& w) {
    test::WriteSampleClip(w, 4, 4);
    offset = w.Frames()[2].Offset;
  });
  {
    TFileSource source(0, path_, dir_.Path());
    TFrameError error;
    EXPECT_TRUE(source.VerifyFrames(error));
    EXPECT_FALSE(error.Corrupt);
  }
  std::string content;
  ASSERT_TRUE(ReadWholeFile(path_, content));
  content[static_cast<std::size_t>(offset)] ^= 1;
  ASSERT_TRUE(WriteWholeFile(path_, content.data(), static_cast<std::int64_t>(content.size())));
  TFileSource source(0, path_, dir_.Path());
  TFrameError error;
  EXPECT_FALSE(source.VerifyFrames(error));
  EXPECT_TRUE(error.Corrupt);
  EXPECT_EQ(error.FrameOffset, offset);
  EXPECT_EQ(error.FrameSize, 52);
}

TEST_F(FileSource, InvalidFileIsInvalidAndHarmless) {
  ASSERT_TRUE(WriteWholeFile(path_, "not a clip", 10));
  for (const std::string& name : {path_, dir_.File("missing.bin")}) {
    TFileSource source(0, name, dir_.Path());
    EXPECT_FALSE(source.IsValid());
    TRead r = Read(source);
    EXPECT_NE(r.result, kReadFrame);
    EXPECT_EQ(Read(source).result, kReadPastEnd);
    EXPECT_EQ(source.GetPosition(), kNoTime);
    EXPECT_EQ(source.Seek(1.0), 0.0);
    TFrameError error;
    EXPECT_TRUE(source.VerifyFrames(error));
  }
  EXPECT_EQ(TFileSource(0, dir_.File("missing.bin"), dir_.Path()).GetDisplayName(), dir_.File("missing.bin"));
}

// The sources of a multi-clip file share the splitter's one open file; player
// threads read through it at once and each gets its own frames.
TEST_F(FileSource, SourcesOfOneFileReadConcurrently) {
  constexpr int kFrames = 300;
  {
    TFileOutput out;
    ASSERT_TRUE(out.Create(path_));
    TMultiClipWriter multi(out);
    for (int clip = 0; clip < 2; ++clip) {
      TContainerWriter w(out, false);
      for (int i = 0; i < kFrames; ++i)
        w.AddFrame(2, 1, At(10, 0, 0) + i / 86400.0, test::FrameBytes(clip * 1000 + i, 100 + i % 13));
      w.AddClipOver(0, kFrames, At(10, 0, 0) + kFrames / 86400.0);
      ASSERT_TRUE(w.Finish());
      multi.AddClip(test::SampleInfo(), out.Position());
    }
    multi.SetMode(kModeSyncPlay);
    ASSERT_TRUE(multi.Finish());
    ASSERT_TRUE(out.Close());
  }
  TClipSplitter splitter(path_, false);
  ASSERT_TRUE(splitter.Valid());
  std::vector<std::unique_ptr<TFileSource>> sources;
  for (int clip = 0; clip < 2; ++clip)
    sources.push_back(std::make_unique<TFileSource>(clip, splitter.File(), splitter.Clips()[clip].EndPosition, dir_.Path()));
  EXPECT_EQ(sources[0]->GetDisplayName(), "");
  int mismatches[2] = {0, 0};
  std::vector<std::thread> players;
  for (int clip = 0; clip < 2; ++clip) {
    players.emplace_back([&, clip] {
      TFileSource& source = *sources[static_cast<std::size_t>(clip)];
      for (int round = 0; round < 3; ++round) {
        source.GoToStart();
        for (int i = 0; i < kFrames; ++i) {
          const TRead r = Read(source);
          if (r.result != kReadFrame || r.data != Bytes(test::FrameBytes(clip * 1000 + i, 100 + i % 13)))
            ++mismatches[clip];
        }
      }
    });
  }
  for (int i = 0; i < 200; ++i) {  // the main thread asks for the time meanwhile
    sources[0]->GetPosition();
    sources[1]->GetLastError();
  }
  for (auto& t : players) t.join();
  EXPECT_EQ(mismatches[0], 0);
  EXPECT_EQ(mismatches[1], 0);
}

}  // namespace
}  // namespace ospry
