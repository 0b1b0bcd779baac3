#include "tools/pack/MediaPack.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <queue>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/parseutils.h>
}

#include "platform/Files.h"
#include "tools/pack/Pack.h"
#include "tools/writer/ClipWriter.h"
#include "tools/writer/vendor/VendorClip.h"
#include "tools/writer/vendor/VendorWriter.h"
#include "viewer/sources/U_MediaStreams.h"
#include "viewer/container/U_ClipSplitter.h"

namespace ospry::pack {

namespace {

constexpr std::uint8_t kKindAac = 20;  // the stream kind of AAC frames

constexpr std::uint8_t kTypeOther = 0;
constexpr std::uint8_t kTypeKey = 1;
constexpr std::uint8_t kTypeAudio = 3;

// Frames held back to put the streams of one input into time order; muxers
// interleave closely, this only evens out their small offsets.
constexpr std::size_t kReorderFrames = 64;
constexpr const char* kLibrarySectionName = "libVPlay.so";

struct TFormatCloser {
  void operator()(AVFormatContext* context) const noexcept { avformat_close_input(&context); }
};
struct TPacketFreer {
  void operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
};
struct TBsfFreer {
  void operator()(AVBSFContext* filter) const noexcept { av_bsf_free(&filter); }
};
using TFormatPtr = std::unique_ptr<AVFormatContext, TFormatCloser>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFreer>;
using TBsfPtr = std::unique_ptr<AVBSFContext, TBsfFreer>;

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

std::string CodecName(AVCodecID id) {
  const char* name = avcodec_get_name(id);
  return name != nullptr ? name : "unknown";
}

// The stream kind of an audio codec's frames: its header's codec kind,
// except AAC, whose frames are of kind 20.
std::uint8_t AudioKind(AVCodecID id) {
  const std::uint8_t codecKind = AudioCodecKind(id);
  return codecKind == kCodecKindAac ? kKindAac : codecKind;
}

std::uint16_t VendorAudioCodec(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_PCM_MULAW:
      return vendor::kAudioMulaw;
    case AV_CODEC_ID_PCM_S16LE:
      return vendor::kAudioPcm16;
    default:
      return vendor::kAudioNone;
  }
}

// A frame ready to be stored, in the input's own terms.
struct TMediaFrame {
  double stampMs = 0;  // from the recording's start
  std::int64_t sequence = 0;  // read order, which breaks ties
  bool isAudio = false;
  bool isKey = false;
  std::string data;
};

struct TLaterFrame {
  bool operator()(const TMediaFrame& a, const TMediaFrame& b) const {
    return a.stampMs != b.stampMs ? a.stampMs > b.stampMs : a.sequence > b.sequence;
  }
};

using TFrameSink = std::function<bool(const TMediaFrame& frame, std::string& error)>;

// One media input: its chosen streams, the filter that makes its video
// readable by the decoders, and the frames read from it.
class TMediaInput {
public:
  // Opens path and chooses its streams; false with error when the input
  // cannot be read or holds nothing that can be packed.
  bool Open(const std::string& path, bool vendorFormat, bool withAudio, std::string& error);
  // Reads every packet and hands the frames to sink in recording order.
  bool ReadFrames(const TFrameSink& sink, std::string& error);

  const std::string& Path() const { return path_; }
  const AVCodecParameters& VideoParameters() const { return *context_->streams[video_]->codecpar; }
  const AVStream& VideoStream() const { return *context_->streams[video_]; }
  const AVCodecParameters* AudioParameters() const {
    return audio_ >= 0 ? context_->streams[audio_]->codecpar : nullptr;
  }
  // The creation time the recording carries, or kNoTime.
  TDateTime CreationTime() const;
  // Milliseconds from the start to the end of the last frame read.
  double EndMs() const { return endMs_; }

private:
  bool OpenFilter(const char* name, std::string& error);
  double StampMs(const AVPacket& packet, int streamIndex);
  bool Emit(TMediaFrame frame, const TFrameSink& sink, std::string& error);
  bool TakeVideo(AVPacket& packet, const TFrameSink& sink, std::string& error);

  std::string path_;
  TFormatPtr context_;
  TBsfPtr filter_;  // null when the video needs no conversion
  int video_ = -1;
  int audio_ = -1;
  double frameMs_ = kDefaultFrameMs;
  double originMs_ = 0;
  bool hasOrigin_ = false;
  double lastStampMs_[2] = {0, 0};  // per stream (video, audio), kept rising
  bool hasKey_ = false;  // a video key frame was stored
  double endMs_ = 0;
  double lastEmittedMs_ = 0;
  std::int64_t sequence_ = 0;
  std::priority_queue<TMediaFrame, std::vector<TMediaFrame>, TLaterFrame> pending_;
};

bool TMediaInput::Open(const std::string& path, bool vendorFormat, bool withAudio, std::string& error) {
  path_ = path;
  {
    TReadFile probe;
    if (!probe.Open(path)) {
      error = path + ": cannot open (" + std::strerror(errno) + ")";
      return false;
    }
  }
  // Read the named local file only: without the prefix a name like
  // "pipe:0" would be taken as a protocol, and without the list a play list
  // inside the input could make it fetch other files or network addresses.
  AVDictionary* openOptions = nullptr;
  av_dict_set(&openOptions, "protocol_whitelist", "file", 0);
  AVFormatContext* raw = nullptr;
  const int opened = avformat_open_input(&raw, ("file:" + path).c_str(), nullptr, &openOptions);
  av_dict_free(&openOptions);
  if (opened < 0) {
    error = path + ": neither a clip file nor a media file that can be read (" + AvError(opened) + ")";
    return false;
  }
  context_.reset(raw);
  const int found = avformat_find_stream_info(context_.get(), nullptr);
  if (found < 0) {
    error = path + ": cannot read its streams (" + AvError(found) + ")";
    return false;
  }

  std::string videoCodecs;
  std::string audioCodecs;
  for (unsigned i = 0; i < context_->nb_streams; ++i) {
    const AVStream* stream = context_->streams[i];
    const AVCodecParameters* parameters = stream->codecpar;
    if (parameters->codec_type == AVMEDIA_TYPE_VIDEO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
      const bool usable = vendorFormat ? parameters->codec_id == AV_CODEC_ID_H264 : VideoStreamKind(parameters->codec_id) != 0;
      if (usable && video_ < 0) video_ = static_cast<int>(i);
      videoCodecs += (videoCodecs.empty() ? "" : ", ") + CodecName(parameters->codec_id);
    }
    if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
      const bool usable = vendorFormat ? VendorAudioCodec(parameters->codec_id) != vendor::kAudioNone
                                       : AudioKind(parameters->codec_id) != 0;
      if (usable && audio_ < 0 && withAudio) audio_ = static_cast<int>(i);
      audioCodecs += (audioCodecs.empty() ? "" : ", ") + CodecName(parameters->codec_id);
    }
  }
  if (video_ < 0) {
    if (videoCodecs.empty()) {
      error = path + ": holds no video stream";
    } else if (vendorFormat) {
      error = path + ": the vendor format carries H.264 video only; this input's video is " + videoCodecs;
    } else {
      error = path + ": video in " + videoCodecs + " cannot be packed (H.264, MPEG-4 part 2 or Motion JPEG can)";
    }
    return false;
  }
  // Sound that cannot be packed is an error rather than silently missing.
  if (withAudio && audio_ < 0 && !audioCodecs.empty()) {
    error = path + ": audio in " + audioCodecs + " cannot be packed (" +
            (vendorFormat ? "the vendor format carries G.711 µ-law or 16-bit PCM" : "G.711 µ-law, G.726 or AAC can") +
            "); --no-audio leaves the sound out";
    return false;
  }

  const AVStream& video = *context_->streams[video_];
  frameMs_ = FrameDurationMs(video);
  const AVCodecParameters& parameters = *video.codecpar;
  // MP4 and Matroska keep H.264 parameter sets in the stream's configuration
  // record (which starts with version byte 1) and prefix every unit with its
  // length; the decoders read only start-code streams.
  if (parameters.codec_id == AV_CODEC_ID_H264 && parameters.extradata_size > 0 && parameters.extradata[0] == 1) {
    if (!OpenFilter("h264_mp4toannexb", error)) return false;
  }
  // Those containers keep the MPEG-4 configuration header aside as well; the
  // decoder finds it only in front of the key frames.
  if (parameters.codec_id == AV_CODEC_ID_MPEG4 && parameters.extradata_size > 0) {
    if (!OpenFilter("dump_extra", error)) return false;
  }

  for (int index : {video_, audio_}) {
    if (index < 0) continue;
    const AVStream* stream = context_->streams[index];
    if (stream->start_time == AV_NOPTS_VALUE) continue;
    const double ms = static_cast<double>(stream->start_time) * av_q2d(stream->time_base) * 1000.0;
    if (!std::isfinite(ms)) continue;
    originMs_ = hasOrigin_ ? std::min(originMs_, ms) : ms;
    hasOrigin_ = true;
  }
  return true;
}

bool TMediaInput::OpenFilter(const char* name, std::string& error) {
  const AVBitStreamFilter* filter = av_bsf_get_by_name(name);
  AVBSFContext* raw = nullptr;
  if (filter == nullptr || av_bsf_alloc(filter, &raw) < 0) {
    error = path_ + std::string(": the FFmpeg filter ") + name + " is not available";
    return false;
  }
  filter_.reset(raw);
  const AVStream& video = *context_->streams[video_];
  if (avcodec_parameters_copy(filter_->par_in, video.codecpar) < 0) {
    error = path_ + ": out of memory";
    return false;
  }
  filter_->time_base_in = video.time_base;
  const int status = av_bsf_init(filter_.get());
  if (status < 0) {
    error = path_ + ": cannot convert its video (" + AvError(status) + ")";
    return false;
  }
  return true;
}

TDateTime TMediaInput::CreationTime() const {
  auto fromTag = [](const AVDictionary* metadata) -> TDateTime {
    const AVDictionaryEntry* tag = av_dict_get(metadata, "creation_time", nullptr, 0);
    std::int64_t microseconds = 0;
    if (tag == nullptr || tag->value == nullptr || av_parse_time(&microseconds, tag->value, 0) < 0) return kNoTime;
    // Files written without a date often carry the epoch of their format.
    if (microseconds <= 0) return kNoTime;
    return UnixToDateTime(static_cast<double>(microseconds) / 1e6);
  };
  const TDateTime fromFormat = fromTag(context_->metadata);
  return fromFormat != kNoTime ? fromFormat : fromTag(context_->streams[video_]->metadata);
}

double TMediaInput::StampMs(const AVPacket& packet, int streamIndex) {
  const AVStream* stream = context_->streams[streamIndex];
  double& last = lastStampMs_[streamIndex == video_ ? 0 : 1];
  const std::int64_t ts = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
  double ms = last;
  if (ts != AV_NOPTS_VALUE) {
    const double absolute = static_cast<double>(ts) * av_q2d(stream->time_base) * 1000.0;
    if (std::isfinite(absolute)) {
      if (!hasOrigin_) {
        originMs_ = absolute;
        hasOrigin_ = true;
      }
      ms = absolute - originMs_;
    }
  } else if (streamIndex == video_) {
    ms = last + frameMs_;
  }
  // Decoding order is stored order: a stamp never goes back within a stream.
  ms = std::max({ms, last, 0.0});
  last = ms;
  double durationMs = packet.duration > 0 ? static_cast<double>(packet.duration) * av_q2d(stream->time_base) * 1000.0 : 0;
  if (streamIndex == video_ && !(durationMs > 0)) durationMs = frameMs_;
  if (std::isfinite(durationMs)) endMs_ = std::max(endMs_, ms + durationMs);
  return ms;
}

bool TMediaInput::Emit(TMediaFrame frame, const TFrameSink& sink, std::string& error) {
  frame.sequence = sequence_++;
  pending_.push(std::move(frame));
  while (pending_.size() > kReorderFrames) {
    TMediaFrame next = pending_.top();
    pending_.pop();
    // Streams offset by more than the reorder window still give a stored
    // order that is sorted by time, which seeking relies on.
    next.stampMs = std::max(next.stampMs, lastEmittedMs_);
    lastEmittedMs_ = next.stampMs;
    if (!sink(next, error)) return false;
  }
  return true;
}

bool TMediaInput::TakeVideo(AVPacket& packet, const TFrameSink& sink, std::string& error) {
  TMediaFrame frame;
  frame.isKey = (packet.flags & AV_PKT_FLAG_KEY) != 0 || VideoParameters().codec_id == AV_CODEC_ID_MJPEG;
  frame.stampMs = StampMs(packet, video_);
  // Pictures before the first key frame refer to pictures that are not
  // there; no decoder can show them.
  if (!frame.isKey && !hasKey_) return true;
  hasKey_ = true;
  frame.data.assign(reinterpret_cast<const char*>(packet.data), static_cast<std::size_t>(packet.size));
  return Emit(std::move(frame), sink, error);
}

bool TMediaInput::ReadFrames(const TFrameSink& sink, std::string& error) {
  TPacketPtr packet(av_packet_alloc());
  TPacketPtr filtered(av_packet_alloc());
  if (!packet || !filtered) {
    error = path_ + ": out of memory";
    return false;
  }
  auto drainFilter = [&]() -> bool {
    while (true) {
      const int status = av_bsf_receive_packet(filter_.get(), filtered.get());
      if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return true;
      if (status < 0) {
        error = path_ + ": cannot convert its video (" + AvError(status) + ")";
        return false;
      }
      const bool ok = filtered->size <= 0 || TakeVideo(*filtered, sink, error);
      av_packet_unref(filtered.get());
      if (!ok) return false;
    }
  };

  while (true) {
    const int status = av_read_frame(context_.get(), packet.get());
    if (status == AVERROR_EOF) break;
    if (status < 0) {
      error = path_ + ": read error (" + AvError(status) + ")";
      return false;
    }
    const int index = packet->stream_index;
    bool ok = true;
    if (packet->size > 0 && index == video_) {
      if (filter_) {
        const int sent = av_bsf_send_packet(filter_.get(), packet.get());
        if (sent < 0) {
          error = path_ + ": cannot convert its video (" + AvError(sent) + ")";
          ok = false;
        } else {
          ok = drainFilter();
        }
      } else {
        ok = TakeVideo(*packet, sink, error);
      }
    } else if (packet->size > 0 && index == audio_ && audio_ >= 0) {
      TMediaFrame frame;
      frame.isAudio = true;
      frame.stampMs = StampMs(*packet, audio_);
      frame.data.assign(reinterpret_cast<const char*>(packet->data), static_cast<std::size_t>(packet->size));
      ok = Emit(std::move(frame), sink, error);
    }
    av_packet_unref(packet.get());
    if (!ok) return false;
  }
  if (filter_) {
    av_bsf_send_packet(filter_.get(), nullptr);
    if (!drainFilter()) return false;
  }
  while (!pending_.empty()) {
    TMediaFrame next = pending_.top();
    pending_.pop();
    next.stampMs = std::max(next.stampMs, lastEmittedMs_);
    lastEmittedMs_ = next.stampMs;
    if (!sink(next, error)) return false;
  }
  if (!hasKey_) {
    error = path_ + ": holds no video key frame, so nothing of it could be shown";
    return false;
  }
  return true;
}

// The recorder record and time of one input's clip.
struct TClipInfo {
  TDvrInfo info;
  TDateTime start = 0;
};

std::string DefaultChannelName(const std::string& path) {
  std::string name = ExtractFileName(path);
  const std::string ext = ExtractFileExt(name);
  if (!ext.empty() && ext.size() < name.size()) name.resize(name.size() - ext.size());
  if (name.size() > kMaxChannelNameChars) name.resize(kMaxChannelNameChars);
  return name.empty() ? kUnknownName : name;
}

// Value i of a per-input option: its only value, the i-th, or none.
template <typename T>
const T* PerInput(const std::vector<T>& values, std::size_t i) {
  if (values.empty()) return nullptr;
  return values.size() == 1 ? &values[0] : &values[i];
}

TClipInfo ClipInfoFor(const TMediaPackOptions& options, std::size_t i, const TMediaInput& input) {
  TClipInfo clip;
  clip.info.DvrName = options.recorderName.value_or(kUnknownName);
  clip.info.UserName = options.userName.value_or(kUnknownName);
  clip.info.HostName = options.hostName.value_or(kUnknownName);
  const std::string* channel = PerInput(options.channelNames, i);
  clip.info.ChannelName = channel != nullptr ? *channel : DefaultChannelName(input.Path());
  if (const TDateTime* start = PerInput(options.startTimes, i)) {
    clip.start = *start;
  } else {
    clip.start = input.CreationTime();
    if (clip.start == kNoTime) clip.start = FileModifiedDateTime(input.Path());
    if (clip.start == kNoTime) clip.start = NowDateTime();
  }
  return clip;
}

bool CheckOptions(const TMediaPackOptions& options, std::string& error) {
  const std::size_t inputs = options.inputPaths.size();
  if (inputs == 0) {
    error = "no input given";
    return false;
  }
  if (inputs == 1 && options.mode) {
    error = "--mode applies to several inputs only; one input makes one clip";
    return false;
  }
  if (inputs > 1 && options.description && options.description->size() > 255) {
    error = "the description of a multi-clip file holds at most 255 characters";
    return false;
  }
  for (const auto& [count, what] : {std::pair{options.channelNames.size(), "--channel"},
                                    std::pair{options.startTimes.size(), "--start"}}) {
    if (count > 1 && count != inputs) {
      error = std::string(what) + " is given " + std::to_string(count) + " times for " + std::to_string(inputs) +
              " inputs; give it once for all or once per input";
      return false;
    }
  }
  struct TLimit {
    const char* what;
    const std::string* value;
    std::size_t limit;
  };
  std::vector<TLimit> limits = {
      {"recorder name", options.recorderName ? &*options.recorderName : nullptr, kMaxRecorderNameChars},
      {"user name", options.userName ? &*options.userName : nullptr, kMaxUserNameChars},
      {"host name", options.hostName ? &*options.hostName : nullptr, kMaxHostNameChars},
  };
  for (const std::string& channel : options.channelNames) limits.push_back({"channel name", &channel, kMaxChannelNameChars});
  for (const TLimit& limit : limits) {
    if (limit.value != nullptr && limit.value->size() > limit.limit) {
      error = std::string("the ") + limit.what + " \"" + *limit.value + "\" is longer than the " +
              std::to_string(limit.limit) + " characters a clip can hold";
      return false;
    }
  }
  return true;
}

// The vendor stream header for an input's H.264 video and sound.
vendor::TStreamHeader VendorHeader(const TMediaInput& input) {
  vendor::TStreamHeader header;
  const AVCodecParameters& video = input.VideoParameters();
  header.width = static_cast<std::uint16_t>(std::clamp(video.width, 0, 65535));
  header.height = static_cast<std::uint16_t>(std::clamp(video.height, 0, 65535));
  const AVStream& stream = input.VideoStream();
  AVRational rate = stream.avg_frame_rate.num > 0 && stream.avg_frame_rate.den > 0 ? stream.avg_frame_rate
                                                                                    : stream.r_frame_rate;
  if (rate.num > 0 && rate.den > 0) {
    header.frameRateNum = static_cast<std::uint32_t>(rate.num);
    header.frameRateDen = static_cast<std::uint32_t>(rate.den);
  }
  if (const AVCodecParameters* audio = input.AudioParameters()) {
    header.audioCodec = VendorAudioCodec(audio->codec_id);
    header.channels = static_cast<std::uint8_t>(std::clamp(audio->ch_layout.nb_channels, 1, 8));
    header.bitsPerSample = 16;
    header.sampleRate = static_cast<std::uint32_t>(std::max(audio->sample_rate, 1));
  }
  return header;
}

// Writes one input as one clip container at the output's position.
bool WriteInputContainer(TMediaInput& input, const TClipInfo& clip, const TMediaPackOptions& options,
                         const std::string* library, writer::TOutput& out, TDvrInfo& written, std::string& error) {
  writer::TContainerWriter container(out, false);
  const bool vendorFormat = options.vendorFormat;
  const AVCodecParameters* audio = input.AudioParameters();
  const std::uint8_t videoKind = VideoStreamKind(input.VideoParameters().codec_id);
  const std::uint8_t audioKind = audio != nullptr ? AudioKind(audio->codec_id) : 0;

  auto store = [&](const TMediaFrame& frame, std::string& sinkError) -> bool {
    const TDateTime stamp = clip.start + MillisecondsToDays(frame.stampMs);
    if (vendorFormat) {
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.data.data());
      const std::int64_t stampMs = std::llround(frame.stampMs);
      const writer::TVendorFrame muxed =
          frame.isAudio ? writer::TVendorMuxer::AudioBlock(bytes, frame.data.size(), stampMs)
                        : writer::TVendorMuxer::VideoFrame(bytes, frame.data.size(), stampMs, frame.isKey);
      if (muxed.bytes.empty()) {
        sinkError = input.Path() + ": a frame of " + std::to_string(frame.data.size()) +
                    " bytes is larger than the vendor format allows";
        return false;
      }
      container.AddFrame(writer::kVendorStreamKind, muxed.ClipFrameType(), stamp, muxed.bytes);
    } else {
      const std::uint8_t kind = frame.isAudio ? audioKind : videoKind;
      const std::uint8_t type = frame.isAudio ? kTypeAudio : (frame.isKey ? kTypeKey : kTypeOther);
      container.AddFrame(kind, type, stamp, frame.data);
    }
    // Stop early on a full disk instead of reading the rest of the input.
    if (!out.Ok()) {
      sinkError = options.outputPath + ": cannot write (disk full or I/O error)";
      return false;
    }
    return true;
  };
  if (!input.ReadFrames(store, error)) return false;

  if (vendorFormat) {
    container.AddHeader(writer::kVendorStreamKind, VendorHeader(input).Encode());
  } else if (audio != nullptr) {
    const std::vector<std::uint8_t> audioHeader = MakeAudioHeader(*audio);
    container.AddHeader(audioKind, std::string_view(reinterpret_cast<const char*>(audioHeader.data()), audioHeader.size()));
  }
  const TDateTime end = clip.start + MillisecondsToDays(input.EndMs());
  container.AddClipOver(0, static_cast<std::int32_t>(container.Frames().size()), end);
  written = clip.info;
  written.StartTime = clip.start;
  written.EndTime = end;
  container.AddDvrInfo(written);
  if (library != nullptr) container.AddSection(writer::kVendorStreamKind, kLibrarySectionName, *library);
  container.SetDescription(options.description.value_or(""));
  if (!container.Finish()) {
    error = options.outputPath + ": cannot write (disk full or I/O error)";
    return false;
  }
  return true;
}

}  // namespace

bool ParseStartTime(const std::string& text, TDateTime& out) {
  TCalendarTime calendar;
  char separator = 0;
  int consumed = 0;
  const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &calendar.year, &calendar.month,
                                 &calendar.day, &separator, &calendar.hour, &calendar.minute, &calendar.second,
                                 &consumed);
  if (fields != 7 || (separator != ' ' && separator != 'T')) return false;
  std::string rest = text.substr(static_cast<std::size_t>(consumed));
  if (!rest.empty()) {
    if (rest.size() != 4 || rest[0] != '.' ||
        !std::all_of(rest.begin() + 1, rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return false;
    calendar.millisecond = std::stoi(rest.substr(1));
  }
  return TryEncodeDateTime(calendar, out);
}

bool PackMediaFiles(const TMediaPackOptions& options, std::string& error) {
  if (!CheckOptions(options, error)) return false;
  if (!FileExists(options.launcherPath)) {
    error = options.launcherPath + ": cannot read the launcher";
    return false;
  }
  std::string library;
  const bool carriesLibrary = options.vendorFormat && !options.libraryPath.empty();
  if (carriesLibrary && !ReadWholeFile(options.libraryPath, library)) {
    error = options.libraryPath + ": cannot read the vendor library";
    return false;
  }

  // Every input is opened and checked before anything is written.
  std::vector<std::unique_ptr<TMediaInput>> inputs;
  std::vector<TClipInfo> clips;
  for (std::size_t i = 0; i < options.inputPaths.size(); ++i) {
    auto input = std::make_unique<TMediaInput>();
    if (!input->Open(options.inputPaths[i], options.vendorFormat, options.withAudio, error)) return false;
    clips.push_back(ClipInfoFor(options, i, *input));
    inputs.push_back(std::move(input));
  }

  const bool isMulti = inputs.size() > 1;
  return WritePackage(
      options.launcherPath, options.outputPath,
      [&](writer::TOutput& out, std::string& stepError) {
        if (!isMulti) {
          TDvrInfo written;
          return WriteInputContainer(*inputs[0], clips[0], options, carriesLibrary ? &library : nullptr, out,
                                     written, stepError);
        }
        writer::TMultiClipWriter multi(out);
        for (std::size_t i = 0; i < inputs.size(); ++i) {
          TDvrInfo written;
          if (!WriteInputContainer(*inputs[i], clips[i], options, nullptr, out, written, stepError)) return false;
          multi.AddClip(written, out.Position());
        }
        // The library once for the whole file rather than once per clip.
        if (carriesLibrary) multi.AddSection(writer::kVendorStreamKind, kLibrarySectionName, library);
        multi.SetMode(options.mode.value_or(kModePlayList));
        multi.SetDescription(options.description.value_or(""));
        if (!multi.Finish()) {
          stepError = options.outputPath + ": cannot write (disk full or I/O error)";
          return false;
        }
        return true;
      },
      error);
}

}  // namespace ospry::pack
