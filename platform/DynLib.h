#pragma once
// Loading a shared library at run time and resolving its functions. Failure
// gives an invalid library and null symbols, never a crash.
//
// Threading: not thread-safe per object (Symbol records the last error);
// distinct objects may be used from different threads.
#include <string>

namespace ospry {

class TDynLib {
public:
  TDynLib() = default;
  explicit TDynLib(const std::string& path) { Load(path); }
  ~TDynLib();
  TDynLib(const TDynLib&) = delete;
  TDynLib& operator=(const TDynLib&) = delete;

  // Unloads first. A path without '/' is looked up like a linked library
  // (e.g. "libm.so.6"); an empty path fails. Symbols are resolved at once,
  // so a library with unresolvable dependencies fails here, not at a call.
  bool Load(const std::string& path);
  void Unload();
  bool IsLoaded() const { return handle_ != nullptr; }
  // The address of an exported symbol, or null.
  void* Symbol(const std::string& name) const;
  // The loader's last error text.
  const std::string& LastError() const { return lastError_; }

private:
  void* handle_ = nullptr;
  mutable std::string lastError_;
};

}  // namespace ospry
