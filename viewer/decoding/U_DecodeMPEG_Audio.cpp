#include "viewer/decoding/U_DecodeMPEG_Audio.h"

#include <algorithm>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace ospry {

namespace {

std::int32_t GetLe32(const std::uint8_t* at) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
                                   (static_cast<std::uint32_t>(at[2]) << 16) |
                                   (static_cast<std::uint32_t>(at[3]) << 24));
}

void PutLe32(std::uint8_t* at, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

AVCodecID CodecForKind(std::uint8_t kind) {
  switch (kind) {
    case 17:
      return AV_CODEC_ID_PCM_MULAW;
    case 18:
      return AV_CODEC_ID_ADPCM_G726;
    case 19:
      return AV_CODEC_ID_AAC;
    default:
      return AV_CODEC_ID_NONE;
  }
}

// Limits beyond which a header is taken as garbage rather than handed to a
// codec that would size its buffers by it.
constexpr std::int32_t kMaxChannels = 8;
constexpr std::int32_t kMaxSampleRate = 384000;

}  // namespace

TAudioHeader ParseAudioHeader(const std::uint8_t* bytes) {
  TAudioHeader header;
  header.CodecKind = bytes[0];
  header.Channels = GetLe32(bytes + 1);
  header.BitRate = GetLe32(bytes + 5);
  header.SampleRate = GetLe32(bytes + 9);
  return header;
}

std::array<std::uint8_t, kAudioHeaderBytes> EncodeAudioHeader(const TAudioHeader& header) {
  std::array<std::uint8_t, kAudioHeaderBytes> bytes{};
  bytes[0] = header.CodecKind;
  PutLe32(bytes.data() + 1, header.Channels);
  PutLe32(bytes.data() + 5, header.BitRate);
  PutLe32(bytes.data() + 9, header.SampleRate);
  return bytes;
}

TDecodeMPEG_Audio::TDecodeMPEG_Audio(TWindowHandle window, TWaveOutputFactory waveFactory)
    : TDecodeBase(window), frame_(av_frame_alloc()), pcm_(kMaxPcmBytes), apiMutex_(kFfmpegMutexName) {
  if (waveFactory) wave_ = waveFactory();
}

TDecodeMPEG_Audio::~TDecodeMPEG_Audio() { Close(); }

int TDecodeMPEG_Audio::Decode(const TFrameHeader& header, const std::uint8_t* payload) {
  if (payload == nullptr || header.DataSize < 0) return -1;
  if (header.FrameType == kFrameStreamHeader || header.FrameType == kFrameAudioHeader) {
    // Only a 13-byte header is recognised; anything else leaves the decoder
    // as it was.
    if (header.DataSize != kAudioHeaderBytes) return -1;
    std::memcpy(audioHeader_.data(), payload, kAudioHeaderBytes);
    OpenCodec(ParseAudioHeader(audioHeader_.data()));
    return context_ ? 0 : -1;
  }
  if (!context_ || !frame_ || header.DataSize == 0) return -1;

  TAvPacketPtr packet(av_packet_alloc());
  if (!packet || av_new_packet(packet.get(), header.DataSize) < 0) return -1;
  std::memcpy(packet->data, payload, header.DataSize);

  pcmBytes_ = 0;
  {
    // One packet per frame; whatever the codec leaves unconsumed is dropped.
    TNamedMutexGuard api(apiMutex_);
    if (avcodec_send_packet(context_.get(), packet.get()) < 0) return -1;
    while (avcodec_receive_frame(context_.get(), frame_.get()) >= 0) {
      AppendPcm(frame_.get());
      av_frame_unref(frame_.get());
    }
  }
  if (pcmRate_ <= 0) {
    pcmRate_ = context_->sample_rate;
    pcmChannels_ = context_->ch_layout.nb_channels;
  }

  std::unique_lock<TLock> guard(callbackLock_);
  if (!onFrame_) {
    guard.unlock();
    if (wave_) wave_->Write(pcm_.data(), pcmBytes_);
    return 1;
  }
  TFrameInfo info{};
  info.Window = Window;
  info.Stamp = header.Stamp;
  info.FrameType = header.FrameType;
  info.DataSize = pcmBytes_;
  info.IsAudio = true;
  info.AudioFormat.Valid = true;
  info.AudioFormat.SampleRate = pcmRate_;
  info.AudioFormat.Channels = pcmChannels_;
  info.AudioFormat.BitsPerSecondPerChannel = pcmRate_ * 16;
  try {
    onFrame_(info, pcm_.data());
  } catch (...) {
    // A failing receiver loses this block only.
  }
  return 1;
}

void TDecodeMPEG_Audio::AppendPcm(const AVFrame* frame) {
  const int channels = frame->ch_layout.nb_channels;
  if (channels <= 0 || frame->nb_samples <= 0 || frame->sample_rate <= 0) return;
  pcmRate_ = frame->sample_rate;
  pcmChannels_ = channels;
  const int bytesPerSample = 2 * channels;
  const int roomSamples = (kMaxPcmBytes - pcmBytes_) / bytesPerSample;
  if (roomSamples <= 0) return;
  std::uint8_t* out = pcm_.data() + pcmBytes_;
  if (frame->format == AV_SAMPLE_FMT_S16) {
    const int samples = std::min(frame->nb_samples, roomSamples);
    std::memcpy(out, frame->data[0], static_cast<std::size_t>(samples) * bytesPerSample);
    pcmBytes_ += samples * bytesPerSample;
    return;
  }
  // Planar or float output: converted to interleaved s16 at the same rate and
  // layout. The converter is rebuilt when the input changes.
  const int inputKey = frame->format * 1000003 + frame->sample_rate * 16 + channels;
  if (!resampler_ || resamplerFormat_ != inputKey) {
    SwrContext* raw = nullptr;
    AVChannelLayout layout{};
    if (av_channel_layout_copy(&layout, &frame->ch_layout) < 0) return;
    const int status = swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_S16, frame->sample_rate, &layout,
                                           static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    if (status < 0) return;
    resampler_.reset(raw);
    if (swr_init(resampler_.get()) < 0) {
      resampler_.reset();
      return;
    }
    resamplerFormat_ = inputKey;
  }
  std::uint8_t* outPlanes[1] = {out};
  const int converted = swr_convert(resampler_.get(), outPlanes, roomSamples,
                                    const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
  if (converted > 0) pcmBytes_ += converted * bytesPerSample;
}

void TDecodeMPEG_Audio::OpenCodec(const TAudioHeader& requested) {
  Close();
  TAudioHeader header = requested;
  if (header.CodecKind == 17) {
    header.Channels = 1;
    header.SampleRate = 8000;
    header.BitRate = 64000;
  }
  const AVCodecID id = CodecForKind(header.CodecKind);
  if (id == AV_CODEC_ID_NONE || header.Channels < 1 || header.Channels > kMaxChannels ||
      header.SampleRate < 1 || header.SampleRate > kMaxSampleRate || header.BitRate < 0) {
    return;
  }
  {
    TNamedMutexGuard api(apiMutex_);
    const AVCodec* codec = avcodec_find_decoder(id);
    if (codec == nullptr) return;
    TAvCodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) return;
    context->sample_rate = header.SampleRate;
    av_channel_layout_default(&context->ch_layout, header.Channels);
    context->bit_rate = header.BitRate;
    // G.726 takes its code size (2 to 5 bits) from the bit rate per sample.
    if (id == AV_CODEC_ID_ADPCM_G726) {
      context->bits_per_coded_sample = (header.BitRate + header.SampleRate / 2) / header.SampleRate;
    }
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return;
    context_ = std::move(context);
  }
  resampler_.reset();
  resamplerFormat_ = -1;
  pcmRate_ = 0;
  pcmChannels_ = 0;
  if (wave_) {
    TWaveFormat format;
    format.channels = header.Channels;
    format.sampleRate = header.SampleRate;
    format.bitsPerSample = 16;
    wave_->Open(format);
  }
}

void TDecodeMPEG_Audio::Close() {
  if (context_) {
    TNamedMutexGuard api(apiMutex_);
    context_.reset();
  }
  resampler_.reset();
  if (wave_) wave_->Close();
}

void TDecodeMPEG_Audio::SetOnFrame(TDecodedFrameEvent callback) {
  TLockGuard<TLock> guard(callbackLock_);
  onFrame_ = std::move(callback);
}

}  // namespace ospry
