#pragma once
// Writes clip containers and multi-clip files exactly as the readers in
// viewer/container expect them: frames with their checksums, the index block,
// sections, the container trailer with its file checksum, and the multi-clip
// tables and trailer. Used by tests, benchmarks and the packager.
//
// Error policy: failures are reported by result (false); after a failed
// write the output stays failed. Nothing throws.
// Threading: none; one writer and its output belong to one thread.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Files.h"
#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_ClipSplitter.h"
#include "viewer/container/U_Crc.h"
#include "viewer/container/U_IndexParser.h"

namespace ospry::writer {

// Where written bytes go. Keeps the position and the CRC-32 of everything
// written so far, which is the file checksum of a trailer written next.
class TOutput {
public:
  virtual ~TOutput() = default;
  bool Write(const void* data, std::int64_t count);
  bool Write(std::string_view bytes) { return Write(bytes.data(), static_cast<std::int64_t>(bytes.size())); }
  // count zero bytes; a file output leaves a hole instead of writing them.
  bool WriteZeros(std::int64_t count);
  std::int64_t Position() const { return position_; }
  std::uint32_t Checksum() const { return crc_.Value(); }
  bool Ok() const { return ok_; }

protected:
  virtual bool Put(const void* data, std::int64_t count) = 0;
  virtual bool PutZeros(std::int64_t count);

private:
  std::int64_t position_ = 0;
  TCrc crc_;
  bool ok_ = true;
};

class TMemoryOutput : public TOutput {
public:
  const std::string& Bytes() const { return bytes_; }

protected:
  bool Put(const void* data, std::int64_t count) override;

private:
  std::string bytes_;
};

// Writes a file through a buffer; zeros become holes (sparse files).
class TFileOutput : public TOutput {
public:
  TFileOutput() = default;
  ~TFileOutput() override;
  bool Create(const std::string& path);
  // Flushes and closes; false when anything failed.
  bool Close();

protected:
  bool Put(const void* data, std::int64_t count) override;
  bool PutZeros(std::int64_t count) override;

private:
  bool Flush();
  TWriteFile file_;
  std::string buffer_;
  std::int64_t filePosition_ = 0;  // where buffer_ starts
  std::int64_t fileEnd_ = 0;       // the size the file must reach on close
  bool endsInHole_ = false;        // the last bytes were skipped, not written
};

// One clip container written at the output's current position. Frames are
// written at once (each followed by its checksum); everything else is kept
// and written by Finish, in the layout's order, ending with the file
// checksum. Sections are given in reading order: the first added lies
// highest in the file.
class TContainerWriter {
public:
  // shortEntries: "LUMENTAR" with 18-byte frame entries; else "QUERN678".
  TContainerWriter(TOutput& out, bool shortEntries);

  // Writes the frame's bytes and their CRC-32 and records its entry with the
  // absolute position; returns that position.
  std::int64_t AddFrame(std::uint8_t streamKind, std::uint8_t frameType, TDateTime stamp, std::string_view data);
  // Records an entry as given, without writing frame data.
  void AddFrameEntry(const TFrameEntry& entry) { frames_.push_back(entry); }
  void AddClip(const TClipEntry& clip) { clips_.push_back(clip); }
  // A clip over the frames [first, first + count) already added: its start is
  // the first frame's stamp, its number the count of clips so far.
  void AddClipOver(std::int32_t first, std::int32_t count, TDateTime end);
  void AddHeader(std::uint8_t streamKind, std::string_view data);
  void AddDvrInfo(const TDvrInfo& info) { dvrInfos_.push_back(info); }
  void AddSection(std::uint8_t kind, const std::string& name, std::string_view data);
  void SetDescription(std::string text) { description_ = std::move(text); }

  const std::vector<TFrameEntry>& Frames() const { return frames_; }
  // Writes the index block, sections and trailer; false when a write failed
  // or there are more than 255 sections.
  bool Finish();

private:
  TOutput& out_;
  bool shortEntries_;
  std::vector<TFrameEntry> frames_;
  std::vector<TClipEntry> clips_;
  std::vector<THeaderEntry> headers_;
  std::string headerData_;
  std::vector<TDvrInfo> dvrInfos_;
  std::vector<std::pair<TSectionDescriptor, std::string>> sections_;
  std::string description_;
};

// Writes the sections (first given highest), then the section header.
bool WriteSections(TOutput& out, const std::vector<std::pair<TSectionDescriptor, std::string>>& sections);

// The tables and trailer of a multi-clip file, written behind its clip
// containers (written before with TContainerWriter on the same output).
class TMultiClipWriter {
public:
  explicit TMultiClipWriter(TOutput& out) : out_(out) {}
  // A clip whose container ends at endPosition (the output's position right
  // after that container's Finish).
  void AddClip(const TDvrInfo& info, std::int64_t endPosition) { clips_.push_back({info, endPosition}); }
  void AddSection(std::uint8_t kind, const std::string& name, std::string_view data);
  void SetMode(std::uint8_t mode) { mode_ = mode; }
  void SetDescription(std::string text) { description_ = std::move(text); }
  // Sections, section header, clip entries, trailer with the file checksum.
  bool Finish();

private:
  TOutput& out_;
  std::vector<TMultiClipEntry> clips_;
  std::vector<std::pair<TSectionDescriptor, std::string>> sections_;
  std::uint8_t mode_ = kModePlayList;
  std::string description_;
};

}  // namespace ospry::writer
