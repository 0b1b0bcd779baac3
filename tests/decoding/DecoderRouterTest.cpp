#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <memory>
#include <vector>

#include "viewer/decoding/U_DecodeMPEG.h"
#include "viewer/decoding/U_DecodeMPEG_Audio.h"
#include "viewer/decoding/U_DecodeNone.h"
#include "viewer/decoding/U_DecoderRouter.h"

namespace ospry {
namespace {

// Records what reaches it and answers every frame with a one-byte result
// carrying its window, the way a real decoder reports.
struct TCalls {
  std::vector<std::pair<std::uint8_t, std::uint8_t>> decoded;  // (kind, type)
  int resets = 0;
  int created = 0;
};

class TFakeDecoder final : public TDecodeBase {
public:
  TFakeDecoder(TWindowHandle window, TCalls& calls) : TDecodeBase(window), calls_(calls) { ++calls_.created; }
  void Open(const TFrameHeader&, const std::uint8_t*) override {}
  int Decode(const TFrameHeader& header, const std::uint8_t* payload) override {
    calls_.decoded.emplace_back(header.StreamKind, header.FrameType);
    if (!onFrame_) return 0;
    TFrameInfo info{};
    info.Window = Window;
    info.Width = 16;
    info.Height = 8;
    info.Stamp = header.Stamp;
    info.DataSize = header.DataSize;
    onFrame_(info, payload);
    return 1;
  }
  void Close() override {}
  void ResetBuffers() override { ++calls_.resets; }
  void SetOnFrame(TDecodedFrameEvent callback) override { onFrame_ = std::move(callback); }
  void Emit(TWindowHandle window) {
    TFrameInfo info{};
    info.Window = window;
    const std::uint8_t byte = 0;
    onFrame_(info, &byte);
  }

private:
  TCalls& calls_;
  TDecodedFrameEvent onFrame_;
};

// One TCalls per channel window, so tests see which channel's decoders ran.
struct TRouterFixture {
  std::map<TWindowHandle, TCalls> calls;
  std::vector<TFakeDecoder*> made;
  std::vector<std::pair<int, TFrameInfo>> routed;
  TDecoderRouter router{[this](std::uint8_t kind, TWindowHandle window) -> std::unique_ptr<TDecodeBase> {
    if (kind == 1 || kind >= 21) return nullptr;
    auto decoder = std::make_unique<TFakeDecoder>(window, calls[window]);
    made.push_back(decoder.get());
    return decoder;
  }};

  TRouterFixture() {
    router.AddChannel(0, 100);
    router.AddChannel(1, 101);
    router.SetOnFrame([this](int channel, const TFrameInfo& info, const std::uint8_t*) {
      routed.emplace_back(channel, info);
    });
  }
  void Deliver(int channel, std::uint8_t kind, std::uint8_t type, double stamp = 1) {
    TFrameHeader header;
    header.StreamKind = kind;
    header.FrameType = type;
    header.DataSize = 1;
    header.Stamp = stamp;
    const std::uint8_t byte = 0;
    router.DeliverFrame(channel, header, &byte);
  }
};

TEST(DecoderRouter, CreatesOneDecoderPerKindOnFirstFrameAndRoutesByWindow) {
  TRouterFixture f;
  f.Deliver(0, 3, 1);
  f.Deliver(0, 3, 0);
  f.Deliver(0, 17, 15);  // a stream header of a second kind on the same channel
  f.Deliver(1, 3, 1);
  EXPECT_EQ(f.calls[100].created, 2);
  EXPECT_EQ(f.calls[101].created, 1);
  ASSERT_EQ(f.routed.size(), 4u);
  EXPECT_EQ(f.routed[0].first, 0);
  EXPECT_EQ(f.routed[2].first, 0);  // both decoders of channel 0 report with its window
  EXPECT_EQ(f.routed[3].first, 1);
  EXPECT_NE(f.router.Decoder(0, 3), f.router.Decoder(0, 17));
  int width = 0, height = 0;
  ASSERT_TRUE(f.router.PictureSize(1, width, height));
  EXPECT_EQ(width, 16);
  EXPECT_EQ(height, 8);
}

TEST(DecoderRouter, KindWithoutDecoderSetsErrorAndTriesAgain) {
  TRouterFixture f;
  f.Deliver(0, 1, 1);
  EXPECT_EQ(f.router.GetLastError(), "No decoder found for handle: 0");
  EXPECT_EQ(f.router.Decoder(0, 1), nullptr);
  f.Deliver(1, 200, 1);  // beyond the 22 slots
  EXPECT_EQ(f.router.GetLastError(), "No decoder found for handle: 1");
  f.Deliver(7, 3, 1);    // a channel nobody added
  EXPECT_EQ(f.router.GetLastError(), "No decoder found for handle: 7");
  EXPECT_TRUE(f.routed.empty());
  EXPECT_TRUE(f.made.empty());
}

TEST(DecoderRouter, AudioBlocksOnlyReachTheSoundChannelWhenSoundIsOn) {
  TRouterFixture f;
  f.router.SelectSoundChannel(1);
  f.Deliver(0, 20, 16);       // stream header of channel 0: always decoded
  f.Deliver(0, 20, kFrameAudio);
  f.Deliver(1, 20, kFrameAudio);  // sound still off
  f.router.SetSound(true);
  f.Deliver(0, 20, kFrameAudio);
  f.Deliver(1, 20, kFrameAudio);
  using TPairs = std::vector<std::pair<std::uint8_t, std::uint8_t>>;
  EXPECT_EQ(f.calls[100].decoded, (TPairs{{20, 16}}));
  EXPECT_EQ(f.calls[101].decoded, (TPairs{{20, kFrameAudio}}));
  // Audio blocks do not become the channel's last header.
  TFrameHeader last;
  ASSERT_TRUE(f.router.LastHeader(0, last));
  EXPECT_EQ(last.FrameType, 16);
  EXPECT_FALSE(f.router.LastHeader(1, last));
}

TEST(DecoderRouter, FlushResetsAllChannelsInSyncPlayElseTheSelectedOne) {
  TRouterFixture f;
  f.Deliver(0, 3, 1);
  f.Deliver(0, 17, 15);
  f.Deliver(1, 3, 1);
  f.router.OnFlush(false, 1);
  EXPECT_EQ(f.calls[100].resets, 0);
  EXPECT_EQ(f.calls[101].resets, 1);
  f.router.OnFlush(true, 1);
  EXPECT_EQ(f.calls[100].resets, 2);
  EXPECT_EQ(f.calls[101].resets, 2);
}

TEST(DecoderRouter, DropsDecodedFramesOfUnknownWindows) {
  TRouterFixture f;
  f.Deliver(0, 3, 1);
  f.routed.clear();
  f.made[0]->Emit(999);
  EXPECT_TRUE(f.routed.empty());
  f.made[0]->Emit(101);  // a window that belongs to channel 1
  ASSERT_EQ(f.routed.size(), 1u);
  EXPECT_EQ(f.routed[0].first, 1);
}

TEST(DecoderRouter, StandardFactoryFollowsTheKindTable) {
  bool vendorAsked = false;
  TDecoderFactory factory = StandardDecoderFactory([&](std::uint8_t, TWindowHandle window) {
    vendorAsked = true;
    return std::make_unique<TDecodeNone>(window);
  });
  for (int kind = 0; kind < 24; ++kind) {
    auto decoder = factory(static_cast<std::uint8_t>(kind), 5);
    const char* expected = "none";
    if (kind == 0 || kind == 2) expected = "TDecodeNone";
    if (kind == 3 || kind == 5 || kind == 6 || kind == 13 || kind == 15 || kind == 16) expected = "TDecodeMPEG";
    if (kind == 17 || kind == 18 || kind == 20) expected = "TDecodeMPEG_Audio";
    const char* actual = "none";
    if (dynamic_cast<TDecodeNone*>(decoder.get())) actual = "TDecodeNone";
    if (dynamic_cast<TDecodeMPEG*>(decoder.get())) actual = "TDecodeMPEG";
    if (dynamic_cast<TDecodeMPEG_Audio*>(decoder.get())) actual = "TDecodeMPEG_Audio";
    EXPECT_STREQ(actual, expected) << "kind " << kind;
    if (decoder) {
      EXPECT_EQ(decoder->GetWindow(), 5u);
      EXPECT_EQ(decoder->GetPort(), -1);
    }
  }
  EXPECT_TRUE(vendorAsked);
  EXPECT_EQ(StandardDecoderFactory()(2, 5), nullptr);  // no vendor decoder given
}

TEST(DecoderRouter, FlushAndSoundSwitchRunAlongsideDelivery) {
  // A player thread delivers while the main thread flips sound and a flush
  // resets buffers; run under ThreadSanitizer this checks the lock contract.
  TDecoderRouter router;  // real decoders: kind 0 and audio without header
  router.AddChannel(0, 100);
  router.AddChannel(1, 101);
  std::atomic<int> routed{0};
  router.SetOnFrame([&](int, const TFrameInfo&, const std::uint8_t*) { ++routed; });
  std::thread player([&] {
    const std::uint8_t bytes[4] = {};
    for (int i = 0; i < 2000; ++i) {
      TFrameHeader header;
      header.StreamKind = i % 2 == 0 ? 0 : 20;
      header.FrameType = i % 2 == 0 ? 1 : kFrameAudio;
      header.DataSize = 4;
      router.DeliverFrame(i % 3 == 0 ? 1 : 0, header, bytes);
    }
  });
  for (int i = 0; i < 500; ++i) {
    router.SetSound(i % 2 == 0);
    router.SelectSoundChannel(i % 2);
    router.OnFlush(i % 3 == 0, i % 2);
    TFrameHeader last;
    router.LastHeader(0, last);
  }
  player.join();
  EXPECT_EQ(routed.load(), 0);  // nothing here produces a picture or sound
  EXPECT_NE(router.Decoder(0, 0), nullptr);
  EXPECT_NE(router.Decoder(1, 20), nullptr);
}

TEST(DecoderRouter, KindZeroFramesVanishWithoutCallback) {
  TDecoderRouter router;
  int routed = 0;
  router.AddChannel(0, 100);
  router.SetOnFrame([&](int, const TFrameInfo&, const std::uint8_t*) { ++routed; });
  TFrameHeader header;
  header.StreamKind = 0;
  header.DataSize = 1;
  const std::uint8_t byte = 1;
  router.DeliverFrame(0, header, &byte);
  router.DeliverFrame(0, header, &byte);
  EXPECT_NE(dynamic_cast<TDecodeNone*>(router.Decoder(0, 0)), nullptr);
  EXPECT_EQ(routed, 0);
  EXPECT_EQ(router.GetLastError(), "");
}

}  // namespace
}  // namespace ospry
