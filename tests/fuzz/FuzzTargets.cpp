#include "FuzzTargets.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/Files.h"
#include "viewer/container/U_Authenticate.h"
#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_ClipSplitter.h"
#include "viewer/container/U_Crc.h"
#include "viewer/container/U_IndexParser.h"

namespace ospry::fuzz {
namespace {

// The input lives in one anonymous in-memory file, reached by path like any
// file on disk; nothing is written to the disk.
class TInputFile {
public:
  TInputFile() : fd_(::memfd_create("ospry-fuzz-input", 0)) {}
  bool Store(const std::uint8_t* data, std::size_t size) {
    if (fd_ < 0 || ::ftruncate(fd_, 0) != 0) return false;
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  std::string Path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
  int fd_;
};

TInputFile& Input() {
  static TInputFile input;
  return input;
}

void ExerciseIndex(const TReadFile& file, const TIndexParser& index) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double times[] = {0.0, -1.0, nan, std::numeric_limits<double>::infinity(), index.FirstClipStart(),
                          index.LastClipEnd(), index.FrameCount() > 0 ? index.Frame(index.LastFrameIndex()).Stamp : 1.0};
  for (double t : times) {
    index.FindFrame(0, index.FrameCount(), t);
    index.FindFrame(index.FrameCount() / 2, index.FrameCount(), t);
    index.ClipAt(t);
    index.FirstFrameOfClipAt(t);
  }
  std::string data;
  THeaderEntry entry;
  for (int kind = -1; kind <= kIndexStreamKinds + 1; ++kind) {
    index.GetHeaderData(kind, data);
    index.GetHeaderEntry(kind, entry);
  }
  TFrameCheck failure;
  VerifyIndexFrames(file, index, failure);
}

}  // namespace

int FuzzClipReader(const std::uint8_t* data, std::size_t size) {
  if (!Input().Store(data, size)) return 0;
  TReadFile file(Input().Path());
  const std::int64_t ends[] = {file.Size(), file.Size() - (size > 0 ? data[0] % 64 : 0)};
  for (std::int64_t end : ends) {
    TClipReader reader(file, end, false);
    if (reader.Valid()) ExerciseIndex(file, *reader.Index());
  }
  return 0;
}

int FuzzClipSplitter(const std::uint8_t* data, std::size_t size) {
  if (!Input().Store(data, size)) return 0;
  const std::string path = Input().Path();
  TClipSplitter splitter(path, false);
  if (splitter.Valid()) {
    for (const auto& clip : splitter.Clips()) {
      TClipReader reader(splitter.File(), clip.EndPosition, false);
      if (reader.Valid()) ExerciseIndex(splitter.File(), *reader.Index());
    }
  }
  AuthenticateFile(path);
  return 0;
}

}  // namespace ospry::fuzz
