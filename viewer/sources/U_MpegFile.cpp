#include "viewer/sources/U_MpegFile.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "platform/Files.h"
#include "viewer/sources/U_MediaStreams.h"

namespace ospry {

namespace {

constexpr int kMaxStreamsExamined = 20;
constexpr std::uint8_t kKindAudio = 20;  // the stream kind of every audio frame

}  // namespace

std::uint8_t ScanPictureType(const std::uint8_t* data, std::int64_t size) {
  std::uint8_t type = 0;
  for (std::int64_t i = 0; i + 5 <= size; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6) {
      const int codingType = data[i + 4] >> 6;
      if (codingType == 0) type = kFrameKey;
      if (codingType == 1) type = kFramePredictedMpeg4;
    }
  }
  return type;
}

void TMpegFile::TFormatCloser::operator()(AVFormatContext* context) const noexcept {
  avformat_close_input(&context);
}

void TMpegFile::TPacketFreer::operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }

TMpegFile::TMpegFile(std::int32_t sourceId, const std::string& fileName)
    : IQuernVideoSource(sourceId, fileName), packet_(av_packet_alloc()) {
  Description = "Raw mpeg file";
  FrameRate = -1;
  options_.FileName = fileName;
}

TMpegFile::~TMpegFile() { Close(); }

void TMpegFile::SetError(const std::string& text) {
  TLockGuard<TLock> guard(lock_);
  lastError_ = text;
}

std::string TMpegFile::GetLastError() {
  TLockGuard<TLock> guard(lock_);
  return lastError_;
}

bool TMpegFile::OpenMpeg(const std::string& fileName) {
  if (!FileExists(fileName) || DirectoryExists(fileName) || !packet_) return false;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, fileName.c_str(), nullptr, nullptr) != 0) {
    SetError("unable to open mpeg file");
    return false;
  }
  std::unique_ptr<AVFormatContext, TFormatCloser> context(raw);
  if (avformat_find_stream_info(context.get(), nullptr) < 0) {
    SetError("not a valid mpeg stream");
    return false;
  }
  int video = -1;
  int audio = -1;
  const int examined = std::min<int>(context->nb_streams, kMaxStreamsExamined);
  for (int i = 0; i < examined; ++i) {
    const AVCodecParameters* parameters = context->streams[i]->codecpar;
    // Only codecs a decoder exists for: a stream of another codec could not
    // be shown anyway.
    if (video < 0 && parameters->codec_type == AVMEDIA_TYPE_VIDEO && VideoStreamKind(parameters->codec_id) != 0) {
      video = i;
    }
    if (audio < 0 && parameters->codec_type == AVMEDIA_TYPE_AUDIO && AudioCodecKind(parameters->codec_id) != 0) {
      audio = i;
    }
  }
  if (video < 0) {
    SetError("could not find a video stream");
    return false;
  }
  const AVStream* stream = context->streams[video];
  videoStream_ = video;
  audioStream_ = audio;
  audioHeaderSent_ = false;
  packetPending_ = false;
  videoKind_ = VideoStreamKind(stream->codecpar->codec_id);
  frameMs_ = FrameDurationMs(*stream);
  const TDateTime modified = FileModifiedDateTime(fileName);
  startTime_ = modified == kNoTime ? DateOf(NowDateTime()) : DateOf(modified);
  {
    TLockGuard<TLock> guard(lock_);
    framesRead_ = 0;
    position_ = startTime_;
    width_ = stream->codecpar->width;
    height_ = stream->codecpar->height;
  }
  context_ = std::move(context);
  return true;
}

bool TMpegFile::Probe(const TVideoSourceOptions& options) {
  options_ = options;
  Valid = OpenMpeg(options.FileName);
  Close();
  return Valid;
}

bool TMpegFile::Reopen() {
  if (options_.FileName.empty()) return false;
  return Start(options_);
}

bool TMpegFile::Start(const TVideoSourceOptions& options) {
  if (context_) Close();
  if (!OpenMpeg(options.FileName)) return false;
  Active = true;
  options_ = options;
  return true;
}

void TMpegFile::Close() {
  if (packet_) av_packet_unref(packet_.get());
  packetPending_ = false;
  context_.reset();
  Active = false;
}

void TMpegFile::GetPictureSize(int& width, int& height) const {
  TLockGuard<TLock> guard(lock_);
  width = context_ ? width_ : 0;
  height = context_ ? height_ : 0;
}

std::string TMpegFile::GetDisplayName() const {
  const std::string name = GetFileName();
  return FileExists(name) ? ExtractFileName(name) : name;
}

void TMpegFile::GetSegments(TTimeSegments& segments) {
  segments.assign(1, TTimeSegment{startTime_, startTime_ + 1});
}

void TMpegFile::GetInfo(TDvrInfo& info) {
  IQuernVideoSource::GetInfo(info);
  info.StartTime = startTime_;
  info.EndTime = startTime_ + 1;
}

bool TMpegFile::GetClipInfo(std::string&, std::string&, TDateTime& startTime, TDateTime& endTime) {
  startTime = startTime_;
  endTime = startTime_ + 1;
  return false;
}

TDateTime TMpegFile::GetPosition() {
  TLockGuard<TLock> guard(lock_);
  return position_;
}

bool TMpegFile::VerifyFrames(TFrameError&) { return true; }

bool TMpegFile::SetKeyFramesOnly(bool value) {
  keyFramesOnly_ = value;
  return true;
}

bool TMpegFile::SetSpeed(double speed) {
  speed_ = speed;
  return true;
}

double TMpegFile::PositionMs(int streamIndex, std::int64_t dts, std::int64_t framesRead) const {
  // The user's frame-rate choice wins: raw streams get time stamps that the
  // demuxer made up from an assumed rate, which the choice is there to fix.
  const std::int32_t userRate = GetFrameRate();
  if (userRate > 0) return static_cast<double>(framesRead + 1) * 1000.0 / userRate;
  if (dts != AV_NOPTS_VALUE && streamIndex >= 0) {
    const AVStream* stream = context_->streams[streamIndex];
    const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    // The stamp marks the end of the frame, as the frame counter below does.
    const double ms = static_cast<double>(dts - start) * av_q2d(stream->time_base) * 1000.0 + frameMs_;
    if (ms >= 0 && std::isfinite(ms)) return ms;
  }
  return static_cast<double>(framesRead + 1) * frameMs_;
}

TReadResult TMpegFile::ReadFrame(std::int32_t& sourceId, std::vector<std::uint8_t>& data, TFrameHeader& header,
                                 TDateTime& time) {
  sourceId = GetSourceId();
  if (!context_ || !packet_) return kReadPastEnd;
  while (true) {
    if (!packetPending_) {
      av_packet_unref(packet_.get());
      // End of file and read errors both end reading: libavformat keeps
      // failing once it has.
      if (av_read_frame(context_.get(), packet_.get()) < 0) return kReadPastEnd;
    }
    AVPacket* packet = packet_.get();
    const bool isVideo = packet->stream_index == videoStream_;
    const bool isAudio = packet->stream_index == audioStream_;
    if ((!isVideo && !isAudio) || packet->size <= 0) {
      packetPending_ = false;
      continue;
    }
    if (isAudio && !audioHeaderSent_) {
      // The audio decoder opens from this header; the packet itself follows
      // with the next read.
      const AVCodecParameters* parameters = context_->streams[audioStream_]->codecpar;
      data = MakeAudioHeader(*parameters);
      header.StreamKind = kKindAudio;
      header.FrameType = kFrameAudioHeader;
      header.DataSize = kAudioHeaderBytes;
      header.Stamp = GetPosition();
      time = header.Stamp;
      audioHeaderSent_ = true;
      packetPending_ = true;
      return kReadFrame;
    }
    packetPending_ = false;

    std::uint8_t kind = kKindAudio;
    std::uint8_t type = kFrameAudio;
    if (isVideo) {
      kind = videoKind_;
      if (kind == kStreamKindMjpeg) {
        type = kFrameKey;
      } else if (kind == kStreamKindH264 && (packet->flags & AV_PKT_FLAG_KEY)) {
        // H.264 packets carry no MPEG-4 start codes; the demuxer's key flag
        // marks where decoding can start.
        type = kFrameKey;
      } else {
        type = ScanPictureType(packet->data, packet->size);
      }
    }
    TDateTime stamp;
    {
      TLockGuard<TLock> guard(lock_);
      ++framesRead_;
      position_ = startTime_ + MillisecondsToDays(std::nearbyint(PositionMs(packet->stream_index, packet->dts, framesRead_)));
      stamp = position_;
    }
    if (isVideo && keyFramesOnly_ && type != kFrameKey) continue;
    data.assign(packet->data, packet->data + packet->size);
    header.StreamKind = kind;
    header.FrameType = type;
    header.DataSize = packet->size;
    header.Stamp = stamp;
    time = stamp;
    av_packet_unref(packet);
    return kReadFrame;
  }
}

TDateTime TMpegFile::Seek(TDateTime time) {
  const double fraction = time - startTime_;
  if (fraction < 0 || fraction > 1) return startTime_;
  if (!context_) {
    SetError("seek failed");
    return time;
  }
  std::int64_t fileSize = context_->pb ? avio_size(context_->pb) : -1;
  if (fileSize < 0) fileSize = FileSize(options_.FileName);
  const auto target = static_cast<std::int64_t>(std::nearbyint(static_cast<double>(std::max<std::int64_t>(fileSize, 0)) * fraction));
  av_packet_unref(packet_.get());
  packetPending_ = false;
  if (av_seek_frame(context_.get(), videoStream_, target, AVSEEK_FLAG_BYTE | AVSEEK_FLAG_ANY) < 0) {
    SetError("seek failed");
  }
  return time;
}

TDateTime TMpegFile::GoToStart() { return Seek(startTime_); }

TDateTime TMpegFile::GoToEnd() { return Seek(startTime_ + 0.99); }

}  // namespace ospry
