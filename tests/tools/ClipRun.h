#pragma once
// Runs ospry-clip as the user runs it, in a private temporary folder (opening
// a clip may write the vendor library there), and collects what it printed.
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "../container/ContainerTestUtil.h"
#include "platform/Files.h"

namespace ospry::test {

struct TRun {
  int status = -1;  // the exit code; -1 when the process did not exit normally
  std::string out, err;
};

inline TRun RunClip(const TTempDir& dir, const std::string& arguments) {
  const std::string command = "TMPDIR=" + dir.Path() + " " + OSPRY_CLIP_EXE + " " + arguments + " >" +
                              dir.File("out.txt") + " 2>" + dir.File("err.txt");
  const int raw = std::system(command.c_str());
  TRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  ReadWholeFile(dir.File("out.txt"), run.out);
  ReadWholeFile(dir.File("err.txt"), run.err);
  return run;
}

// The little-endian 32-bit field at byte at of a file's bytes.
inline std::uint32_t LittleEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}

}  // namespace ospry::test
