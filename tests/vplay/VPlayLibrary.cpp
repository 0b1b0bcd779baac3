#include "tests/vplay/VPlayLibrary.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "platform/Files.h"

namespace ospry::test {

void* TVPlay::Symbol(const char* name) const { return library.Symbol(name); }

TVPlay& Library() {
  static TVPlay& library = [] () -> TVPlay& {
    static TVPlay lib;
    if (!lib.library.Load(VPLAY_LIBRARY_PATH)) throw std::runtime_error(lib.library.LastError());
#define VPLAY_RESOLVE_ENTRY(name) lib.name = reinterpret_cast<decltype(lib.name)>(lib.library.Symbol(#name));
    VPLAY_TEST_ENTRIES(VPLAY_RESOLVE_ENTRY)
#undef VPLAY_RESOLVE_ENTRY
    return lib;
  }();
  return library;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::string TempPath(const std::string& name) {
  static const std::string folder = [] {
    std::string f = TempFolder() + "ospry-vplay-tests-" + std::to_string(getpid()) + "/";
    CreateDirectories(f);
    return f;
  }();
  return folder + name;
}

}  // namespace ospry::test
