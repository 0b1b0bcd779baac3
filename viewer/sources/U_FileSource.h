#pragma once
// TFileSource: the pull source over one clip container. It serves the stream
// headers as pseudo-frames, then the recorded frames in recording order,
// forwards or backwards (backwards: key frames only), answers time queries,
// builds the timeline segments, reports the recorder description and checks
// the frame checksums.
//
// The read position covers headers and frames in one range. With H header
// entries and L the last frame index: -H..-1 are the headers met before the
// frames reading forwards, 0..L the frames, L+1..L+H the headers met first
// reading backwards from the end.
//
// Error policy: an unreadable container leaves IsValid() false; reading
// failures give kReadNothing and a last-error text ("Could not get header",
// "Error in file seek or read"). Nothing throws.
//
// Threading: the reading operations (ReadFrame, Skip..., PeekHeader, Seek,
// GoTo..., SetSpeed, Mark/RestorePosition) run on the one player thread that
// plays the source. GetPosition, GetInfo, GetClipInfo, GetSegments,
// VerifyFrames and GetLastError may be called from the main thread meanwhile:
// the index is immutable after construction, the position, speed and
// key-frame flag are atomics, the last error is guarded by errorLock_ (a leaf
// lock, never held while calling out). Frames are read with positional reads,
// so the sources of one multi-clip file read through the splitter's one open
// file from several player threads at once without disturbing each other.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "viewer/container/U_IndexParser.h"
#include "viewer/sources/U_Interfaces.h"

namespace ospry {

class TFileSource : public IQuernVideoSource {
public:
  // Opens fileName (owned by the source) and loads the container that ends
  // the file. Sections are written to extractFolder (TempFolder() when empty).
  TFileSource(std::int32_t sourceId, const std::string& fileName, const std::string& extractFolder = {});
  // Loads the container that ends at endPosition of an open file owned by the
  // caller (the multi-clip splitter), which must outlive the source.
  TFileSource(std::int32_t sourceId, const TReadFile& file, std::int64_t endPosition,
              const std::string& extractFolder = {});
  ~TFileSource() override;

  std::string GetDisplayName() const override;
  void GetSegments(TTimeSegments& segments) override;
  bool CanAuthenticate() override { return true; }
  bool CanPlayBackward() override { return true; }
  void GetInfo(TDvrInfo& info) override;
  bool GetClipInfo(std::string& dvrName, std::string& channelName, TDateTime& startTime,
                   TDateTime& endTime) override;
  TDateTime GetPosition() override;
  bool VerifyFrames(TFrameError& error) override;

  // Moves to the key frame at or before the last frame whose stamp is at or
  // before time (in a gap between clips: the next clip's first key frame) and
  // returns time; returns 0.0 without moving when there are no frames.
  TDateTime Seek(TDateTime time) override;
  TDateTime GoToStart() override;
  TDateTime GoToEnd() override;
  TReadResult ReadFrame(std::int32_t& sourceId, std::vector<std::uint8_t>& data, TFrameHeader& header,
                        TDateTime& time) override;
  TReadResult SkipPastNextKeyFrame() override;
  TReadResult ReadGopFrame(std::int32_t& sourceId, std::vector<std::uint8_t>& data, TFrameHeader& header,
                           TDateTime& time) override;
  bool Skip(std::int32_t count) override;
  TReadResult PeekHeader(TFrameHeader& header) override;
  std::string GetLastError() override;
  bool SetKeyFramesOnly(bool value) override;
  bool SetSpeed(double speed) override;
  void MarkPosition() override { markedPosition_ = position_.load(); }
  void RestorePosition() override { position_ = markedPosition_; }

  // The file checksum stored in the container's trailer.
  std::uint32_t FileChecksum() const { return fileChecksum_; }
  // The index, null for an invalid source.
  const TIndexParser* Index() const { return index_.get(); }
  // The raw read position (see above).
  std::int32_t Position() const { return position_; }

private:
  void Load(std::int64_t endPosition, const std::string& extractFolder);
  void SetLastError(const char* text);
  // Fills header (and data when not null) with the header pseudo-frame of
  // position; false when it has no header bytes.
  bool HeaderFrame(std::int32_t position, TFrameHeader& header, std::vector<std::uint8_t>* data);
  std::int32_t LastFrame() const { return index_ ? index_->LastFrameIndex() : -1; }
  std::int32_t HeaderCount() const { return index_ ? index_->HeaderCount() : 0; }

  std::unique_ptr<TReadFile> ownedFile_;  // set when the source opened the file itself
  const TReadFile* file_ = nullptr;
  std::unique_ptr<TIndexParser> index_;
  std::uint32_t fileChecksum_ = 0;
  std::int64_t fileSize_ = 0;  // taken at load, so playing costs one read per frame
  std::atomic<double> speed_{0.0};
  std::atomic<bool> keyFramesOnly_{false};
  std::atomic<std::int32_t> position_{-1};
  std::int32_t markedPosition_ = -1;  // player thread only
  std::mutex errorLock_;
  std::string lastError_;  // guarded by errorLock_
};

}  // namespace ospry
