#pragma once
// Runs ospry-clip as the user runs it, in a private temporary folder (opening
// a clip may write the vendor library there), and collects what it printed.
#include <sys/wait.h>

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

}  // namespace ospry::test
