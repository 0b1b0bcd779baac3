#include "tools/pack/Pack.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/Files.h"
#include "tools/writer/ClipWriter.h"
#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_ClipSplitter.h"
#include "viewer/container/U_Crc.h"

namespace ospry::pack {

namespace {

constexpr std::int64_t kCopyBlockBytes = 1 << 20;

bool CopyFileInto(const TReadFile& file, writer::TOutput& out) {
  const std::int64_t size = file.Size();
  if (size < 0) return false;
  std::string block;
  for (std::int64_t at = 0; at < size; at += kCopyBlockBytes) {
    const std::int64_t count = std::min(kCopyBlockBytes, size - at);
    block.resize(static_cast<std::size_t>(count));
    if (!file.PositionalReadExact(at, block.data(), count)) return false;
    if (!out.Write(block)) return false;
  }
  return true;
}

// The input's own checks must hold before its data is given new checksums;
// otherwise packing would make a tampered clip look authentic.
bool CheckFrames(const TReadFile& file, const TIndexParser& index, const std::string& what, std::string& error) {
  TFrameCheck failure;
  if (VerifyIndexFrames(file, index, failure)) return true;
  error = what + ": frame at offset " + std::to_string(failure.FrameOffset) + " (" +
          std::to_string(failure.FrameSize) + " bytes) fails its checksum or lies outside the file";
  return false;
}

bool CheckFileChecksum(const TReadFile& file, std::uint32_t stored, const std::string& what, std::string& error) {
  std::uint32_t actual = 0;
  if (!TCrc::CalcOpenFile(file, 4, 0, actual)) {
    error = what + ": cannot be read";
    return false;
  }
  if (actual != stored) {
    error = what + ": file checksum does not match its content";
    return false;
  }
  return true;
}

// Writes the container read by reader (from file) at the output's position.
bool WriteContainer(const TReadFile& file, const TClipReader& reader, const std::optional<std::string>& description,
                    writer::TOutput& out, const std::string& what, std::string& error) {
  const TIndexParser* index = reader.Index();
  if (index == nullptr) {
    error = what + ": container has no index";
    return false;
  }
  if (!CheckFrames(file, *index, what, error)) return false;

  writer::TContainerWriter container(out, reader.ShortEntries());
  std::string data;
  for (const TFrameEntry& frame : index->Frames()) {
    // Short entries store 32-bit offsets; a frame placed beyond them could
    // not be found again.
    if (reader.ShortEntries() && out.Position() > std::numeric_limits<std::int32_t>::max()) {
      error = what + ": the package would place frames beyond the 32-bit offsets of its container kind";
      return false;
    }
    data.resize(static_cast<std::size_t>(frame.DataSize));
    if (!file.PositionalReadExact(frame.Offset, data.data(), frame.DataSize)) {
      error = what + ": cannot read frame at offset " + std::to_string(frame.Offset);
      return false;
    }
    container.AddFrame(frame.StreamKind, frame.FrameType, frame.Stamp, data);
  }
  for (const TClipEntry& clip : index->Clips()) container.AddClip(clip);
  for (const THeaderEntry& header : index->HeaderEntries()) {
    std::string headerData;
    index->GetHeaderData(header.StreamKind, headerData);
    container.AddHeader(header.StreamKind, headerData);
  }
  for (const TDvrInfo& info : index->DvrInfos()) container.AddDvrInfo(info);
  for (std::size_t i = 0; i < reader.Sections().size(); ++i)
    container.AddSection(reader.Sections()[i].Kind, reader.Sections()[i].Name, reader.SectionData()[i]);
  container.SetDescription(description ? *description : reader.Description());
  if (!container.Finish()) {
    error = what + ": could not write its container";
    return false;
  }
  return true;
}

bool WriteMultiClip(const TClipSplitter& splitter, const TPackOptions& options, writer::TOutput& out,
                    std::string& error) {
  const TReadFile& file = splitter.File();
  writer::TMultiClipWriter multi(out);
  for (std::int32_t i = 0; i < splitter.ClipCount(); ++i) {
    const TMultiClipEntry& entry = splitter.Clips()[static_cast<std::size_t>(i)];
    const std::string what = options.inputPath + ", clip " + std::to_string(i + 1);
    TClipReader reader(file, entry.EndPosition, false);
    if (!reader.Valid()) {
      error = what + ": " + reader.Error();
      return false;
    }
    if (!WriteContainer(file, reader, std::nullopt, out, what, error)) return false;
    multi.AddClip(entry.Info, out.Position());
  }
  for (std::size_t i = 0; i < splitter.Sections().size(); ++i)
    multi.AddSection(splitter.Sections()[i].Kind, splitter.Sections()[i].Name, splitter.SectionData()[i]);
  multi.SetMode(options.mode ? *options.mode : splitter.Mode());
  multi.SetDescription(options.description ? *options.description : splitter.Description());
  if (!multi.Finish()) {
    error = options.inputPath + ": could not write the multi-clip tables";
    return false;
  }
  return true;
}

// A file name beside target that no other run uses at the same time.
std::string TemporaryNameBeside(const std::string& target) {
  return ExtractFilePath(target) + "." + ExtractFileName(target) + ".part-" + std::to_string(::getpid());
}

}  // namespace

bool WritePackage(const std::string& launcherPath, const std::string& outputPath, const TClipWriteStep& writeClip,
                  std::string& error) {
  TReadFile launcher;
  if (!launcher.Open(launcherPath) || launcher.Size() <= 0) {
    error = launcherPath + ": cannot read the launcher";
    return false;
  }
  const std::string partial = TemporaryNameBeside(outputPath);
  writer::TFileOutput out;
  if (!out.Create(partial)) {
    error = outputPath + ": cannot create (" + std::strerror(errno) + ")";
    return false;
  }
  bool ok = CopyFileInto(launcher, out);
  if (!ok) error = launcherPath + ": cannot copy the launcher";
  if (ok) ok = writeClip(out, error);
  // A write that failed on a full disk shows in the output's state even when
  // the step itself did not notice.
  if (ok && !out.Ok()) {
    ok = false;
    error = outputPath + ": cannot write (disk full or I/O error)";
  }
  if (!out.Close() && ok) {
    ok = false;
    error = outputPath + ": cannot write (disk full or I/O error)";
  }
  // A package is run directly.
  if (ok && ::chmod(partial.c_str(), 0755) != 0) {
    ok = false;
    error = outputPath + ": cannot make it executable";
  }
  if (ok && !RenameFile(partial, outputPath)) {
    ok = false;
    error = outputPath + ": cannot move the finished package into place (" + std::strerror(errno) + ")";
  }
  if (!ok) DeleteFilePath(partial);
  return ok;
}

bool PackClipFile(const TPackOptions& options, std::string& error) {
  if (!FileExists(options.launcherPath)) {
    error = options.launcherPath + ": cannot read the launcher";
    return false;
  }

  // A multi-clip trailer is looked for first: its clips are containers too.
  TClipSplitter splitter(options.inputPath, false);
  std::unique_ptr<TClipReader> single;
  TReadFile input;
  if (!splitter.Valid()) {
    if (!input.Open(options.inputPath)) {
      error = options.inputPath + ": cannot open (" + std::strerror(errno) + ")";
      return false;
    }
    single = std::make_unique<TClipReader>(input, input.Size(), false);
    if (!single->Valid()) {
      error = options.inputPath + ": neither a clip container nor a multi-clip file (" + single->Error() + ")";
      return false;
    }
    if (options.mode) {
      error = "--mode applies to multi-clip files only; " + options.inputPath + " holds one clip";
      return false;
    }
    if (!CheckFileChecksum(input, single->FileChecksum(), options.inputPath, error)) return false;
  } else {
    if (options.description && options.description->size() > 255) {
      error = "the description of a multi-clip file holds at most 255 characters";
      return false;
    }
    if (!CheckFileChecksum(splitter.File(), splitter.FileChecksum(), options.inputPath, error)) return false;
  }

  return WritePackage(options.launcherPath, options.outputPath,
                      [&](writer::TOutput& out, std::string& stepError) {
                        return splitter.Valid() ? WriteMultiClip(splitter, options, out, stepError)
                                                : WriteContainer(input, *single, options.description, out,
                                                                 options.inputPath, stepError);
                      },
                      error);
}

bool IsClipFile(const std::string& path) {
  if (TClipSplitter(path, false).Valid()) return true;
  TReadFile file;
  if (!file.Open(path)) return false;
  return TClipReader(file, file.Size(), false).Valid();
}

}  // namespace ospry::pack
