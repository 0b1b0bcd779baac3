#pragma once
// The launcher's payload table: which embedded resource is written under which
// file name, in the order they are written. The viewer ("Ospry") comes last so
// that the library it loads is in place before it can start.
#include <span>

namespace ospry::launcher {

struct TPayloadRow {
  const char* resourceName;
  const char* fileName;
};

std::span<const TPayloadRow> PayloadTable();

// The resource name of the viewer, the one payload the launcher starts.
inline constexpr const char* kViewerResource = "Ospry";

}  // namespace ospry::launcher
