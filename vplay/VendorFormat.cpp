#include "vplay/VendorFormat.h"

#include <algorithm>
#include <cstring>

namespace ospry::vendor {
namespace {

constexpr std::size_t kMaxPesPayload = 65000;
constexpr std::size_t kPrivateDataBytes = 16;
constexpr std::uint32_t kMuxRate = 0x3FFFFF;  // 50 bytes/s units; "as fast as needed"

void PutLe16(std::string& s, std::size_t at, std::uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}
void PutLe32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint16_t GetLe16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t GetLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void AppendPackHeader(std::string& out, std::int64_t scr) {
  const std::uint64_t v = static_cast<std::uint64_t>(scr) & 0x1FFFFFFFFull;
  const std::uint8_t b[14] = {
      0x00, 0x00, 0x01, 0xBA,
      static_cast<std::uint8_t>(0x44 | ((v >> 27) & 0x38) | ((v >> 28) & 0x03)),
      static_cast<std::uint8_t>((v >> 20) & 0xFF),
      static_cast<std::uint8_t>(((v >> 12) & 0xF8) | 0x04 | ((v >> 13) & 0x03)),
      static_cast<std::uint8_t>((v >> 5) & 0xFF),
      static_cast<std::uint8_t>(((v << 3) & 0xF8) | 0x04),  // SCR extension 0
      0x01,
      static_cast<std::uint8_t>(kMuxRate >> 14),
      static_cast<std::uint8_t>((kMuxRate >> 6) & 0xFF),
      static_cast<std::uint8_t>(((kMuxRate << 2) & 0xFC) | 0x03),
      0xF8,  // no stuffing
  };
  out.append(reinterpret_cast<const char*>(b), sizeof b);
}

void AppendSystemHeader(std::string& out) {
  const std::uint8_t b[] = {
      0x00, 0x00, 0x01, 0xBB, 0x00, 12,
      static_cast<std::uint8_t>(0x80 | (kMuxRate >> 15)),
      static_cast<std::uint8_t>((kMuxRate >> 7) & 0xFF),
      static_cast<std::uint8_t>(((kMuxRate << 1) & 0xFE) | 0x01),
      0x04,        // audio bound 1, variable rate, not constrained
      0xE1,        // locks off, marker, video bound 1
      0x7F,        // no packet rate restriction
      kVideoStreamId, 0xE0, 0xE8,  // buffer bound 232 x 1024 bytes
      kAudioStreamId, 0xC0, 0x20,  // buffer bound 32 x 128 bytes
  };
  out.append(reinterpret_cast<const char*>(b), sizeof b);
}

void AppendPts(std::string& out, std::int64_t pts) {
  const std::uint64_t v = static_cast<std::uint64_t>(pts) & 0x1FFFFFFFFull;
  const std::uint8_t b[5] = {
      static_cast<std::uint8_t>(0x21 | ((v >> 29) & 0x0E)),
      static_cast<std::uint8_t>((v >> 22) & 0xFF),
      static_cast<std::uint8_t>(((v >> 14) & 0xFE) | 0x01),
      static_cast<std::uint8_t>((v >> 7) & 0xFF),
      static_cast<std::uint8_t>(((v << 1) & 0xFE) | 0x01),
  };
  out.append(reinterpret_cast<const char*>(b), sizeof b);
}

std::int64_t ReadPts(const std::uint8_t* p) {
  return (static_cast<std::int64_t>((p[0] >> 1) & 0x07) << 30) |
         (static_cast<std::int64_t>(p[1]) << 22) | (static_cast<std::int64_t>(p[2] >> 1) << 15) |
         (static_cast<std::int64_t>(p[3]) << 7) | static_cast<std::int64_t>(p[4] >> 1);
}

}  // namespace

std::string TStreamHeader::Encode() const {
  std::string s(kStreamHeaderSize, '\0');
  std::memcpy(s.data(), "IMKH", 4);
  PutLe16(s, 4, version);
  PutLe16(s, 6, videoCodec);
  PutLe16(s, 8, width);
  PutLe16(s, 10, height);
  PutLe16(s, 12, audioCodec);
  s[14] = static_cast<char>(channels);
  s[15] = static_cast<char>(bitsPerSample);
  PutLe32(s, 16, sampleRate);
  PutLe32(s, 20, frameRateNum);
  PutLe32(s, 24, frameRateDen);
  return s;
}

bool TStreamHeader::Decode(const std::uint8_t* data, std::size_t size, TStreamHeader& out) {
  if (data == nullptr || size < kStreamHeaderSize || std::memcmp(data, "IMKH", 4) != 0) return false;
  TStreamHeader h;
  h.version = GetLe16(data + 4);
  if (h.version != kFormatVersion) return false;
  h.videoCodec = GetLe16(data + 6);
  h.width = GetLe16(data + 8);
  h.height = GetLe16(data + 10);
  h.audioCodec = GetLe16(data + 12);
  h.channels = data[14];
  h.bitsPerSample = data[15];
  h.sampleRate = GetLe32(data + 16);
  h.frameRateNum = GetLe32(data + 20);
  h.frameRateDen = GetLe32(data + 24);
  out = h;
  return true;
}

int TStreamHeader::PcmChannels() const {
  if (audioCodec == kAudioDefault) return 1;
  if (audioCodec == kAudioPcm16 || audioCodec == kAudioMulaw) return std::clamp<int>(channels, 1, 8);
  return 0;
}

int TStreamHeader::PcmSampleRate() const {
  if (audioCodec == kAudioDefault) return 16000;
  if (audioCodec == kAudioPcm16 || audioCodec == kAudioMulaw)
    return static_cast<int>(std::clamp<std::uint32_t>(sampleRate, 1000, 192000));
  return 0;
}

int TStreamHeader::RoundedFrameRate() const {
  if (frameRateNum == 0 || frameRateDen == 0) return 25;
  const std::uint64_t rate = (static_cast<std::uint64_t>(frameRateNum) + frameRateDen / 2) / frameRateDen;
  return static_cast<int>(std::clamp<std::uint64_t>(rate, 1, 1000));
}

std::string PackFrame(TStreamType stream, std::int64_t pts90k, const std::uint8_t* data,
                      std::size_t size, bool withSystemHeader, bool isKey) {
  if (size > kMaxFrameBytes || (data == nullptr && size > 0)) return {};
  const std::uint8_t streamId = stream == TStreamType::Video ? kVideoStreamId : kAudioStreamId;
  std::string out;
  out.reserve(size + 64 + (size / kMaxPesPayload + 1) * 9);
  AppendPackHeader(out, std::max<std::int64_t>(0, pts90k - 900));
  if (withSystemHeader) AppendSystemHeader(out);
  std::size_t done = 0;
  bool first = true;
  do {
    const std::size_t chunk = std::min(kMaxPesPayload, size - done);
    // First packet: PTS (5) + extension flags (1) + private data (16).
    const std::size_t headerData = first ? 5 + 1 + kPrivateDataBytes : 0;
    const std::size_t packetLength = 3 + headerData + chunk;
    const std::uint8_t head[9] = {
        0x00, 0x00, 0x01, streamId,
        static_cast<std::uint8_t>(packetLength >> 8), static_cast<std::uint8_t>(packetLength & 0xFF),
        static_cast<std::uint8_t>(first ? 0x84 : 0x80),  // data alignment on the first packet
        static_cast<std::uint8_t>(first ? 0x81 : 0x00),  // PTS and PES extension
        static_cast<std::uint8_t>(headerData),
    };
    out.append(reinterpret_cast<const char*>(head), sizeof head);
    if (first) {
      AppendPts(out, pts90k);
      out.push_back(static_cast<char>(0x8E));  // private data present, reserved bits set
      std::uint8_t priv[kPrivateDataBytes] = {};
      priv[0] = static_cast<std::uint8_t>(size >> 24);
      priv[1] = static_cast<std::uint8_t>(size >> 16);
      priv[2] = static_cast<std::uint8_t>(size >> 8);
      priv[3] = static_cast<std::uint8_t>(size);
      priv[4] = isKey ? 0x01 : 0x00;
      out.append(reinterpret_cast<const char*>(priv), sizeof priv);
    }
    out.append(reinterpret_cast<const char*>(data) + done, chunk);
    done += chunk;
    first = false;
  } while (done < size);
  return out;
}

void TPsParser::Feed(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size == 0) return;
  // Drop what is parsed before growing, so the buffer holds at most one
  // incomplete packet plus the new bytes.
  if (readPos_ > 0) {
    buffer_.erase(0, readPos_);
    bufferBase_ += static_cast<std::int64_t>(readPos_);
    readPos_ = 0;
  }
  buffer_.append(reinterpret_cast<const char*>(data), size);
  while (ParseOne()) {
  }
}

bool TPsParser::Next(TEsFrame& out) {
  if (ready_.empty()) return false;
  out = std::move(ready_.front());
  ready_.pop_front();
  return true;
}

void TPsParser::Flush() {
  // Parse what is left as far as it goes; an incomplete tail is dropped.
  while (ParseOne()) {
  }
  if (video_.active) Complete(video_);
  if (audio_.active) Complete(audio_);
  bufferBase_ += static_cast<std::int64_t>(buffer_.size());
  buffer_.clear();
  readPos_ = 0;
}

void TPsParser::Reset(std::int64_t base) {
  buffer_.clear();
  readPos_ = 0;
  bufferBase_ = base;
  video_ = {};
  audio_ = {};
  ready_.clear();
}

bool TPsParser::ParseOne() {
  const auto* p = reinterpret_cast<const std::uint8_t*>(buffer_.data());
  const std::size_t end = buffer_.size();
  // Find the next start code prefix.
  std::size_t i = readPos_;
  while (i + 3 < end && !(p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1)) ++i;
  if (i + 3 >= end) {
    // Keep the last bytes, which may begin a start code.
    readPos_ = end >= 3 ? std::max(readPos_, end - 3) : readPos_;
    return false;
  }
  readPos_ = i;
  const std::uint8_t code = p[i + 3];
  const std::int64_t offset = bufferBase_ + static_cast<std::int64_t>(i);
  if (code == 0xBA) {
    if (i + 5 > end) return false;
    std::size_t length;
    if ((p[i + 4] & 0xC0) == 0x40) {
      if (i + 14 > end) return false;
      length = 14 + (p[i + 13] & 0x07);
    } else if ((p[i + 4] & 0xF0) == 0x20) {
      length = 12;
    } else {
      readPos_ = i + 4;  // not a pack header after all
      return true;
    }
    if (i + length > end) return false;
    readPos_ = i + length;
    return true;
  }
  if (code == 0xB9) {  // end code
    readPos_ = i + 4;
    return true;
  }
  if (code < 0xBB) {  // not a system start code: resynchronise
    readPos_ = i + 3;
    return true;
  }
  if (i + 6 > end) return false;
  const std::size_t length = 6 + ((static_cast<std::size_t>(p[i + 4]) << 8) | p[i + 5]);
  if (i + length > end) return false;
  if (code == kVideoStreamId || code == kAudioStreamId) OnPes(code, p + i, length, offset);
  readPos_ = i + length;
  return true;
}

void TPsParser::OnPes(std::uint8_t streamId, const std::uint8_t* packet, std::size_t size,
                      std::int64_t offset) {
  if (size < 9 || (packet[6] & 0xC0) != 0x80) return;  // only MPEG-2 PES packets
  const std::size_t payloadStart = 9 + packet[8];
  if (payloadStart > size) return;
  const bool hasPts = (packet[7] & 0x80) != 0 && packet[8] >= 5;
  TAssembly& a = streamId == kVideoStreamId ? video_ : audio_;
  const std::uint8_t* payload = packet + payloadStart;
  const std::size_t payloadSize = size - payloadStart;
  if (hasPts) {
    if (a.active) Complete(a);
    a = {};
    a.active = true;
    a.frame.stream = streamId == kVideoStreamId ? TStreamType::Video : TStreamType::Audio;
    a.frame.pts90k = ReadPts(packet + 9);
    a.frame.beginOffset = offset;
    // Private data of the extension: the frame's declared size and key flag.
    std::size_t at = 9 + 5;
    if ((packet[7] & 0x01) != 0 && at < payloadStart) {
      const std::uint8_t flags = packet[at++];
      if ((flags & 0x80) != 0 && at + kPrivateDataBytes <= payloadStart) {
        const std::uint8_t* priv = packet + at;
        a.expected = (static_cast<std::int64_t>(priv[0]) << 24) | (priv[1] << 16) | (priv[2] << 8) | priv[3];
        a.frame.isKey = (priv[4] & 0x01) != 0;
        if (a.expected > static_cast<std::int64_t>(kMaxFrameBytes)) a.expected = -1;
      }
    }
  } else if (!a.active) {
    return;  // the rest of a frame whose start was lost
  }
  if (a.received + payloadSize > kMaxFrameBytes) {
    a = {};  // oversized: drop the frame
    return;
  }
  if (keepData_) a.frame.data.append(reinterpret_cast<const char*>(payload), payloadSize);
  a.received += payloadSize;
  a.frame.endOffset = offset + static_cast<std::int64_t>(size);
  if (a.expected >= 0 && a.received >= static_cast<std::size_t>(a.expected)) Complete(a);
}

void TPsParser::Complete(TAssembly& assembly) {
  if (assembly.received > 0) ready_.push_back(std::move(assembly.frame));
  assembly = {};
}

std::int16_t MulawToLinear(std::uint8_t value) {
  const std::uint8_t u = static_cast<std::uint8_t>(~value);
  const int exponent = (u >> 4) & 0x07;
  const int mantissa = u & 0x0F;
  const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
  return static_cast<std::int16_t>((u & 0x80) != 0 ? -magnitude : magnitude);
}

std::int64_t PtsDelta(std::int64_t a, std::int64_t b) {
  constexpr std::int64_t kWrap = std::int64_t{1} << 33;
  std::int64_t d = (a - b) % kWrap;
  if (d < 0) d += kWrap;
  if (d >= kWrap / 2) d -= kWrap;
  return d;
}

}  // namespace ospry::vendor
