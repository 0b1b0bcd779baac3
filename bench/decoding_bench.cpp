// Decoding speed: TDecodeMPEG (YV12 packing and callback included) against
// plain libavcodec send/receive of the same packets with the same thread
// count. Frames per second are reported as items_per_second; the goal is at
// least 0.9 times the plain figure.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "tools/writer/media/MediaWriter.h"
#include "viewer/decoding/U_DecodeMPEG.h"

namespace {

using ospry::media::TEncodedPacket;

// 100 frames, groups of 50, encoded once per size.
const std::vector<TEncodedPacket>& Packets(int width, int height) {
  static std::map<std::pair<int, int>, std::vector<TEncodedPacket>> cache;
  auto& packets = cache[{width, height}];
  if (packets.empty()) {
    av_log_set_level(AV_LOG_ERROR);
    ospry::media::TVideoSettings settings;
    settings.Codec = ospry::media::TVideoCodec::H264;
    settings.Width = width;
    settings.Height = height;
    settings.Frames = 100;
    settings.GopSize = 50;
    settings.BitRate = width * height * 3;  // CCTV-like rates: ~1.2 Mbit/s D1, ~6 Mbit/s 1080p
    ospry::media::EncodeVideo(settings, packets);
  }
  return packets;
}

void PlainLibavcodec(benchmark::State& state, int width, int height) {
  const auto& packets = Packets(width, height);
  const int threads = static_cast<int>(state.range(0));
  std::int64_t frames = 0;
  for (auto _ : state) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = threads;
    avcodec_open2(context, codec, nullptr);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    for (const auto& encoded : packets) {
      // The same padded copy TDecodeMPEG makes of each payload.
      av_new_packet(packet, static_cast<int>(encoded.Data.size()));
      std::memcpy(packet->data, encoded.Data.data(), encoded.Data.size());
      avcodec_send_packet(context, packet);
      av_packet_unref(packet);
      while (avcodec_receive_frame(context, frame) >= 0) {
        benchmark::DoNotOptimize(frame->data[0][0]);
        av_frame_unref(frame);
        ++frames;
      }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
  }
  state.SetItemsProcessed(frames);
}

void DecodeMPEG(benchmark::State& state, int width, int height) {
  const auto& packets = Packets(width, height);
  const int threads = static_cast<int>(state.range(0));
  std::int64_t frames = 0;
  for (auto _ : state) {
    ospry::TDecodeMPEG decoder(1, {}, threads);
    decoder.SetOnFrame([&frames](const ospry::TFrameInfo& info, const std::uint8_t* payload) {
      benchmark::DoNotOptimize(payload[info.DataSize - 1]);
      ++frames;
    });
    for (std::size_t i = 0; i < packets.size(); ++i) {
      ospry::TFrameHeader header;
      header.StreamKind = 3;
      header.FrameType = packets[i].IsKey ? 1 : 0;
      header.DataSize = static_cast<std::int32_t>(packets[i].Data.size());
      header.Stamp = 46000 + i / 86400.0;
      decoder.Decode(header, packets[i].Data.data());
    }
  }
  state.SetItemsProcessed(frames);
}

BENCHMARK_CAPTURE(PlainLibavcodec, D1, 704, 576)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(DecodeMPEG, D1, 704, 576)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(PlainLibavcodec, 1080p, 1920, 1080)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(DecodeMPEG, 1080p, 1920, 1080)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
