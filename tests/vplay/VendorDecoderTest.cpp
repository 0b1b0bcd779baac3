// TDecodeVendor over the real libVPlay.so: frames of a kind-2 clip in,
// TFrameInfo deliveries out; ports the port table cannot hold; the binding's
// missing-library path.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/NamedMutex.h"
#include "tests/vplay/VPlayLibrary.h"
#include "tools/writer/vendor/VendorMedia.h"
#include "viewer/decoding/U_DLLVendor.h"
#include "viewer/decoding/U_DecodeVendor.h"
#include "viewer/render/DrawYUV_New.h"

namespace ospry {
namespace {

using test::WaitUntil;

constexpr TWindowHandle kWindow = 42;

const writer::TVendorStream& StreamWith(std::uint16_t audioCodec) {
  static std::mutex lock;
  static std::map<std::uint16_t, writer::TVendorStream> streams;
  std::lock_guard guard(lock);
  auto found = streams.find(audioCodec);
  if (found == streams.end()) {
    writer::TVendorMediaOptions options;
    options.frameCount = 20;
    options.keyInterval = 10;
    options.audioCodec = audioCodec;
    found = streams.emplace(audioCodec, writer::MakeVendorStream(options)).first;
  }
  return found->second;
}

struct TDelivered {
  std::mutex lock;
  std::vector<TFrameInfo> frames;
  std::size_t Count(bool audio) {
    std::lock_guard guard(lock);
    return static_cast<std::size_t>(
        std::count_if(frames.begin(), frames.end(), [&](const TFrameInfo& f) { return f.IsAudio == audio; }));
  }
  std::vector<TFrameInfo> Take() {
    std::lock_guard guard(lock);
    return frames;
  }
};

class VendorDecoder : public ::testing::Test {
protected:
  void SetUp() override {
    decoder_ = std::make_unique<TDecodeVendor>(kWindow, clock_, VPLAY_LIBRARY_PATH);
    ASSERT_TRUE(decoder_->Library().IsLoaded());
    decoder_->SetOnFrame([this](const TFrameInfo& info, const std::uint8_t*) {
      std::lock_guard guard(delivered_.lock);
      delivered_.frames.push_back(info);
    });
  }

  void DecodeHeader(const writer::TVendorStream& stream) {
    const std::string header = stream.HeaderBytes();
    TFrameHeader h;
    h.StreamKind = 2;
    h.FrameType = kFrameStreamHeader;
    h.DataSize = static_cast<std::int32_t>(header.size());
    h.Stamp = start_;
    EXPECT_EQ(decoder_->Decode(h, reinterpret_cast<const std::uint8_t*>(header.data())), 0);
  }
  void DecodeFrames(const writer::TVendorStream& stream, std::size_t from, std::size_t to, TDateTime base) {
    for (std::size_t i = from; i < to; ++i) {
      const writer::TVendorFrame& frame = stream.frames[i];
      TFrameHeader h;
      h.StreamKind = 2;
      h.FrameType = frame.ClipFrameType();
      h.DataSize = static_cast<std::int32_t>(frame.bytes.size());
      h.Stamp = base + MillisecondsToDays(static_cast<double>(frame.stampMs));
      EXPECT_EQ(decoder_->Decode(h, reinterpret_cast<const std::uint8_t*>(frame.bytes.data())), 0);
    }
  }

  TManualClock clock_;
  TDelivered delivered_;
  std::unique_ptr<TDecodeVendor> decoder_;
  const TDateTime start_ = EncodeDateTime({2026, 12, 11, 12, 0, 0, 0});
};

// Pictures carry BaseStamp plus the library's milliseconds; sound carries the
// format the stream header names, or the default one for code 0x7221.
TEST_F(VendorDecoder, DecodesAKindTwoClipWithStampsAndAudioFormat) {
  struct TCase {
    std::uint16_t codec;
    TAudioFormat format;
  };
  for (const TCase& c : {TCase{vendor::kAudioMulaw, {true, 8000, 1, 8000 * 16}},
                         TCase{vendor::kAudioDefault, {true, 16000, 1, 256000}}}) {
    SCOPED_TRACE(c.codec);
    const writer::TVendorStream& stream = StreamWith(c.codec);
    ASSERT_FALSE(stream.frames.empty());
    {
      std::lock_guard guard(delivered_.lock);
      delivered_.frames.clear();
    }
    DecodeHeader(stream);
    ASSERT_GE(decoder_->GetPort(), 0);
    DecodeFrames(stream, 0, stream.frames.size(), start_);
    ASSERT_TRUE(WaitUntil([&] { return delivered_.Count(false) == 20; })) << delivered_.Count(false);
    EXPECT_DOUBLE_EQ(decoder_->BaseStamp(), start_);
    std::size_t picture = 0;
    for (const TFrameInfo& info : delivered_.Take()) {
      EXPECT_EQ(info.Window, kWindow);
      if (info.IsAudio) {
        EXPECT_EQ(info.AudioFormat, c.format);
        EXPECT_EQ(info.FrameType, VPLAY_TYPE_PCM16);
        continue;
      }
      EXPECT_EQ(info.Width, 64);
      EXPECT_EQ(info.Height, 48);
      EXPECT_EQ(info.DataSize, 64 * 48 * 3 / 2);
      EXPECT_EQ(info.FrameRate, 25);
      EXPECT_EQ(MillisecondsBetween(info.Stamp, start_), static_cast<std::int64_t>(picture * 40)) << picture;
      ++picture;
    }
    EXPECT_GT(delivered_.Count(true), 0u);
    EXPECT_TRUE(clock_.TakeSleeps().empty()) << "no input was refused";
  }
  // The last delivery may be sound; a snapshot is then refused rather than
  // misread, otherwise it is a bitmap of the picture.
  const std::vector<std::uint8_t> bitmap = decoder_->Snapshot();
  int width = 0;
  int height = 0;
  if (!bitmap.empty()) {
    ASSERT_TRUE(TDrawYUV::GetBitmapSize(bitmap, width, height));
    EXPECT_EQ(width, 64);
  }
}

// A second header closes the port and opens a new one: BaseStamp starts again
// from the next ordinary frame.
TEST_F(VendorDecoder, SecondStreamHeaderReopensThePort) {
  const writer::TVendorStream& stream = StreamWith(vendor::kAudioNone);
  DecodeHeader(stream);
  DecodeFrames(stream, 0, 5, start_);
  ASSERT_TRUE(WaitUntil([&] { return delivered_.Count(false) == 5; }));
  const TDateTime later = start_ + MillisecondsToDays(60000);
  DecodeHeader(stream);
  EXPECT_EQ(decoder_->BaseStamp(), kNoTime);
  DecodeFrames(stream, 10, 13, later);  // from the key frame at 400 ms
  ASSERT_TRUE(WaitUntil([&] { return delivered_.Count(false) == 8; }));
  const std::vector<TFrameInfo> frames = delivered_.Take();
  EXPECT_DOUBLE_EQ(decoder_->BaseStamp(), later + MillisecondsToDays(400));
  EXPECT_EQ(MillisecondsBetween(frames[5].Stamp, later), 400);
  EXPECT_EQ(MillisecondsBetween(frames[7].Stamp, later), 480);
}

// Before any header the port is -1: each frame is offered six times, 100 ms
// apart, then dropped; it still sets BaseStamp.
TEST_F(VendorDecoder, FramesBeforeAnyHeaderAreDroppedAfterSixTries) {
  const writer::TVendorStream& stream = StreamWith(vendor::kAudioNone);
  DecodeFrames(stream, 0, 1, start_);
  EXPECT_EQ(clock_.TakeSleeps(), std::vector<std::int64_t>(6, 100));
  EXPECT_DOUBLE_EQ(decoder_->BaseStamp(), start_);
  EXPECT_EQ(decoder_->GetPort(), -1);
}

// What the fake port entries of the next test hand out and were given back.
std::int32_t g_fakePort = 0;
std::vector<std::int32_t> g_freedPorts;

VPlayBool FakeGetPort(std::int32_t* port) {
  *port = g_fakePort;
  return 1;
}
VPlayBool FakeFreePort(std::int32_t port) {
  g_freedPorts.push_back(port);
  return 1;
}

// True when no thread of any process holds the named mutex.
bool ApiMutexIsFree() {
  const int fd = ::open(TNamedMutex::LockFilePath(TDecodeVendor::kApiMutexName).c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);  // also gives our probe lock back
  return free;
}

// A port the port table cannot hold is refused and given back, and the API
// mutex is not left held: the next open works.
TEST_F(VendorDecoder, RefusesPortsOutsideTheTable) {
  const writer::TVendorStream& stream = StreamWith(vendor::kAudioNone);
  TDLLVendor& library = decoder_->Library();
  for (std::int32_t port : {64, 1000, -2}) {
    SCOPED_TRACE(port);
    decoder_->Close();
    g_fakePort = port;
    g_freedPorts.clear();
    library.GetPort.Set(reinterpret_cast<void*>(&FakeGetPort));
    library.FreePort.Set(reinterpret_cast<void*>(&FakeFreePort));
    DecodeHeader(stream);
    EXPECT_EQ(decoder_->GetPort(), -1);
    EXPECT_EQ(g_freedPorts, std::vector<std::int32_t>{port});
    EXPECT_TRUE(ApiMutexIsFree());
    library.GetPort.Set(library.Module.Symbol("VPlay_GetPort"));
    library.FreePort.Set(library.Module.Symbol("VPlay_FreePort"));
    DecodeHeader(stream);
    EXPECT_GE(decoder_->GetPort(), 0);
    EXPECT_LT(decoder_->GetPort(), 64);
  }
}

TEST_F(VendorDecoder, MissingLibraryIsReportedAndEveryCallFails) {
  // The binding falls back to the temporary folder, where opening any clip
  // that carries the library leaves a copy: look in an empty one.
  const std::string emptyTemp = test::TempPath("empty-temp");
  ASSERT_TRUE(CreateDirectories(emptyTemp));
  struct TTempFolderOverride {
    std::string saved;
    bool hadValue;
    explicit TTempFolderOverride(const std::string& folder) {
      const char* old = std::getenv("TMPDIR");
      hadValue = old != nullptr;
      if (hadValue) saved = old;
      setenv("TMPDIR", folder.c_str(), 1);
    }
    ~TTempFolderOverride() {
      if (hadValue) {
        setenv("TMPDIR", saved.c_str(), 1);
      } else {
        unsetenv("TMPDIR");
      }
    }
  } tempOverride(emptyTemp);
  std::vector<std::string> messages;
  TDLLVendor::SetLoadFailureReporter([&](const std::string& text) { messages.push_back(text); });
  {
    TDecodeVendor decoder(kWindow, clock_, "/nonexistent/libVPlay.so");
    EXPECT_FALSE(decoder.Library().IsLoaded());
    const writer::TVendorStream& stream = StreamWith(vendor::kAudioNone);
    const std::string header = stream.HeaderBytes();
    TFrameHeader h;
    h.FrameType = kFrameStreamHeader;
    h.DataSize = 40;
    decoder.Decode(h, reinterpret_cast<const std::uint8_t*>(header.data()));
    EXPECT_EQ(decoder.GetPort(), -1);
    decoder.ResetBuffers();
    decoder.ClearDisplay();
    EXPECT_TRUE(decoder.Snapshot().empty());
  }
  TDLLVendor::SetLoadFailureReporter({});
  // The temporary folder's copy is tried last.
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Could not load " + TempFolder() + TDLLVendor::kLibraryName);
}

}  // namespace
}  // namespace ospry
