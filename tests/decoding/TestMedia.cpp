#include "tests/decoding/TestMedia.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <tuple>

#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace ospry::test {

namespace {

std::mutex gCacheLock;

auto VideoKey(const media::TVideoSettings& s) {
  return std::make_tuple(static_cast<int>(s.Codec), s.Width, s.Height, s.Frames, s.FrameRate, s.GopSize, s.BFrames,
                         s.BitRate);
}
auto AudioKey(const media::TAudioSettings& s) {
  return std::make_tuple(static_cast<int>(s.Codec), s.SampleRate, s.Channels, s.BitRate, s.Seconds);
}

TRefPicture Copy(const AVFrame* frame) {
  TRefPicture picture;
  picture.Width = frame->width;
  picture.Height = frame->height;
  picture.Format = frame->format;
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  picture.ChromaWidth = AV_CEIL_RSHIFT(frame->width, d->log2_chroma_w);
  picture.ChromaHeight = AV_CEIL_RSHIFT(frame->height, d->log2_chroma_h);
  auto plane = [](std::vector<std::uint8_t>& out, const std::uint8_t* data, int lineSize, int width, int rows) {
    out.resize(static_cast<std::size_t>(width) * rows);
    for (int r = 0; r < rows; ++r) std::memcpy(out.data() + static_cast<std::size_t>(r) * width, data + r * lineSize, width);
  };
  plane(picture.Y, frame->data[0], frame->linesize[0], picture.Width, picture.Height);
  plane(picture.U, frame->data[1], frame->linesize[1], picture.ChromaWidth, picture.ChromaHeight);
  plane(picture.V, frame->data[2], frame->linesize[2], picture.ChromaWidth, picture.ChromaHeight);
  return picture;
}

}  // namespace

const std::vector<media::TEncodedPacket>& VideoPackets(const media::TVideoSettings& settings) {
  static std::map<decltype(VideoKey(settings)), std::vector<media::TEncodedPacket>> cache;
  std::lock_guard<std::mutex> guard(gCacheLock);
  auto& packets = cache[VideoKey(settings)];
  if (packets.empty()) {
    std::string error;
    EXPECT_TRUE(media::EncodeVideo(settings, packets, &error)) << error;
  }
  return packets;
}

const std::vector<media::TEncodedPacket>& AudioPackets(const media::TAudioSettings& settings) {
  static std::map<decltype(AudioKey(settings)), std::vector<media::TEncodedPacket>> cache;
  std::lock_guard<std::mutex> guard(gCacheLock);
  auto& packets = cache[AudioKey(settings)];
  if (packets.empty()) {
    std::string error;
    EXPECT_TRUE(media::EncodeAudio(settings, packets, &error)) << error;
  }
  return packets;
}

std::vector<TRefPicture> ReferenceDecode(const std::string& codecName, const std::vector<media::TEncodedPacket>& packets) {
  std::vector<TRefPicture> pictures;
  const AVCodec* codec = avcodec_find_decoder_by_name(codecName.c_str());
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->thread_count = 1;
  EXPECT_GE(avcodec_open2(context, codec, nullptr), 0);
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  auto drain = [&] {
    while (avcodec_receive_frame(context, frame) >= 0) {
      pictures.push_back(Copy(frame));
      av_frame_unref(frame);
    }
  };
  for (const auto& encoded : packets) {
    av_new_packet(packet, static_cast<int>(encoded.Data.size()));
    std::memcpy(packet->data, encoded.Data.data(), encoded.Data.size());
    avcodec_send_packet(context, packet);
    av_packet_unref(packet);
    drain();
  }
  avcodec_send_packet(context, nullptr);
  drain();
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&context);
  return pictures;
}

TRefPicture ToYuv420(const TRefPicture& picture) {
  TRefPicture out;
  out.Width = picture.Width;
  out.Height = picture.Height;
  out.Format = AV_PIX_FMT_YUV420P;
  out.ChromaWidth = (picture.Width + 1) / 2;
  out.ChromaHeight = (picture.Height + 1) / 2;
  out.Y.resize(static_cast<std::size_t>(out.Width) * out.Height);
  out.U.resize(static_cast<std::size_t>(out.ChromaWidth) * out.ChromaHeight);
  out.V.resize(out.U.size());
  SwsContext* sws = sws_getContext(picture.Width, picture.Height, static_cast<AVPixelFormat>(picture.Format),
                                   out.Width, out.Height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  const std::uint8_t* src[4] = {picture.Y.data(), picture.U.data(), picture.V.data(), nullptr};
  int srcStride[4] = {picture.Width, picture.ChromaWidth, picture.ChromaWidth, 0};
  std::uint8_t* dst[4] = {out.Y.data(), out.U.data(), out.V.data(), nullptr};
  int dstStride[4] = {out.Width, out.ChromaWidth, out.ChromaWidth, 0};
  sws_scale(sws, src, srcStride, 0, picture.Height, dst, dstStride);
  sws_freeContext(sws);
  return out;
}

std::vector<std::int16_t> ReferenceDecodeAudio(const std::string& codecName, int channels, int sampleRate, int bitRate,
                                               const std::vector<media::TEncodedPacket>& packets) {
  std::vector<std::int16_t> pcm;
  const AVCodec* codec = avcodec_find_decoder_by_name(codecName.c_str());
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->sample_rate = sampleRate;
  av_channel_layout_default(&context->ch_layout, channels);
  context->bit_rate = bitRate;
  context->bits_per_coded_sample = bitRate / sampleRate;
  EXPECT_GE(avcodec_open2(context, codec, nullptr), 0);
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  for (const auto& encoded : packets) {
    av_new_packet(packet, static_cast<int>(encoded.Data.size()));
    std::memcpy(packet->data, encoded.Data.data(), encoded.Data.size());
    avcodec_send_packet(context, packet);
    av_packet_unref(packet);
    while (avcodec_receive_frame(context, frame) >= 0) {
      const int n = frame->nb_samples;
      const int ch = frame->ch_layout.nb_channels;
      for (int i = 0; i < n; ++i) {
        for (int c = 0; c < ch; ++c) {
          if (frame->format == AV_SAMPLE_FMT_S16) {
            pcm.push_back(reinterpret_cast<const std::int16_t*>(frame->data[0])[i * ch + c]);
          } else if (frame->format == AV_SAMPLE_FMT_FLTP) {
            // The same conversion libswresample makes (round, clip).
            float v = reinterpret_cast<const float*>(frame->data[c])[i] * 32768.0f;
            v = std::max(-32768.0f, std::min(32767.0f, v));
            pcm.push_back(static_cast<std::int16_t>(std::lrintf(v)));
          }
        }
      }
      av_frame_unref(frame);
    }
  }
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&context);
  return pcm;
}

namespace {
std::filesystem::path RunFolder() {
  return std::filesystem::temp_directory_path() / ("ospry_decoding_" + std::to_string(::getpid()));
}

// Keeps the encoders quiet and removes this run's files when the tests end.
class TCleanup : public ::testing::Environment {
public:
  void SetUp() override { av_log_set_level(AV_LOG_ERROR); }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(RunFolder(), ignored);
  }
};
[[maybe_unused]] ::testing::Environment* const gCleanup = ::testing::AddGlobalTestEnvironment(new TCleanup);
}  // namespace

std::string TestFolder() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::filesystem::path folder = RunFolder() /
                                 (std::string(info->test_suite_name()) + "_" + info->name());
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder.string() + "/";
}

}  // namespace ospry::test
