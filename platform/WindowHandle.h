#pragma once
// An opaque, pointer-sized id naming a render window. Frame records, decoders,
// render throttles and renderers carry it; 0 means "no window". The rendering
// layer keeps a registry that maps ids to real windows.
#include <cstdint>

namespace ospry {

using TWindowHandle = std::uintptr_t;
inline constexpr TWindowHandle kNoWindow = 0;

}  // namespace ospry
