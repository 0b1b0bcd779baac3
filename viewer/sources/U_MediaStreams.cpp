#include "viewer/sources/U_MediaStreams.h"

namespace ospry {
namespace {

void PutLe32(std::uint8_t* at, std::int64_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

}  // namespace

std::uint8_t VideoStreamKind(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_H264:
      return kStreamKindH264;
    case AV_CODEC_ID_MPEG4:
      return kStreamKindMpeg4;
    case AV_CODEC_ID_MJPEG:
      return kStreamKindMjpeg;
    default:
      return 0;
  }
}

std::uint8_t AudioCodecKind(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_PCM_MULAW:
      return kCodecKindMulaw;
    case AV_CODEC_ID_ADPCM_G726:
      return kCodecKindG726;
    case AV_CODEC_ID_AAC:
      return kCodecKindAac;
    default:
      return 0;
  }
}

std::vector<std::uint8_t> MakeAudioHeader(const AVCodecParameters& parameters) {
  std::int64_t bitRate = parameters.bit_rate;
  if (bitRate <= 0) bitRate = static_cast<std::int64_t>(parameters.bits_per_coded_sample) * parameters.sample_rate;
  std::vector<std::uint8_t> header(kAudioHeaderBytes, 0);
  header[0] = AudioCodecKind(parameters.codec_id);
  PutLe32(header.data() + 1, parameters.ch_layout.nb_channels);
  PutLe32(header.data() + 5, bitRate);
  PutLe32(header.data() + 9, parameters.sample_rate);
  return header;
}

double FrameDurationMs(const AVStream& stream) {
  for (AVRational rate : {stream.avg_frame_rate, stream.r_frame_rate}) {
    if (rate.num > 0 && rate.den > 0) {
      const double ms = 1000.0 * rate.den / rate.num;
      if (ms >= 1 && ms <= 10000) return ms;
    }
  }
  return kDefaultFrameMs;
}

}  // namespace ospry
