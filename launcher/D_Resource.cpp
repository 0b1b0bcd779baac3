#include "launcher/D_Resource.h"

namespace ospry::launcher {

namespace {
// Only what the viewer needs beside it and the system does not provide: the
// decoding libraries come from the system's own packages.
constexpr TPayloadRow kPayloadTable[] = {
    {"VPlay", "libVPlay.so"},
    {"Ospry", "Ospry"},
};
}  // namespace

std::span<const TPayloadRow> PayloadTable() { return kPayloadTable; }

}  // namespace ospry::launcher
