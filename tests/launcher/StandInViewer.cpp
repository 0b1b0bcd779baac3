// A stand-in for the viewer, for tests and for running a package before the
// real viewer exists.
//
// OSPRY_STANDIN_RECORD=<path>: writes "pid <pid>", "cwd <folder>", then one
//   "arg <argument>" line per argument to that file (complete or absent: it
//   is written beside and renamed into place).
// OSPRY_STANDIN_MODE=wait: stays alive until killed (at most 60 s); a request
//   to close (SIGTERM) is noted as a line "asked to close" in the record and
//   otherwise ignored, so only an immediate end (SIGKILL) ends it early;
//   otherwise prints what it would open and exits with code 0.
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t gAskedToClose = 0;

void NoteCloseRequest(int) { gAskedToClose = 1; }

}  // namespace

int main(int argc, char** argv) {
  if (const char* record = std::getenv("OSPRY_STANDIN_RECORD"); record != nullptr && *record != '\0') {
    const std::string partial = std::string(record) + ".part";
    {
      std::ofstream out(partial, std::ios::trunc);
      char cwd[4096] = {};
      if (::getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '\0';
      out << "pid " << ::getpid() << "\ncwd " << cwd << "\n";
      for (int i = 1; i < argc; ++i) out << "arg " << argv[i] << "\n";
    }
    std::rename(partial.c_str(), record);
  }
  const char* mode = std::getenv("OSPRY_STANDIN_MODE");
  if (mode != nullptr && std::strcmp(mode, "wait") == 0) {
    std::signal(SIGTERM, NoteCloseRequest);
    const char* record = std::getenv("OSPRY_STANDIN_RECORD");
    for (int tick = 0; tick < 6000; ++tick) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (gAskedToClose != 0) {
        gAskedToClose = 0;
        if (record != nullptr && *record != '\0') std::ofstream(record, std::ios::app) << "asked to close\n";
      }
    }
    return 0;
  }
  std::printf("Ospry stand-in viewer: would open %s\n", argc > 1 ? argv[1] : "(nothing)");
  return 0;
}
