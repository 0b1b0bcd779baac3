#pragma once
// Raw-data payloads embedded in the running executable's own image when it is
// built (see Payloads.cmake): a table of named blobs linked into the program.
// The blobs live in the loaded image, so data appended to the executable file
// (a clip package's clip) does not affect them.
//
// Threading: read-only data; any thread.
#include <cstddef>
#include <span>
#include <string_view>

namespace ospry::launcher {

struct TPayload {
  const char* name;           // resource name, e.g. "Ospry"
  const unsigned char* data;  // sizeBytes bytes, valid for the program's life
  std::size_t sizeBytes;
};

// Every payload linked into this program; empty when none were.
std::span<const TPayload> EmbeddedPayloads();

// The payload of that name, compared without regard to case; nullptr when
// the program carries none of that name.
const TPayload* FindEmbeddedPayload(std::string_view name);

}  // namespace ospry::launcher
