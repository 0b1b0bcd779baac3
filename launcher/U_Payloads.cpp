#include "launcher/U_Payloads.h"

#include <cctype>

namespace ospry::launcher {

// Defined by the payload table generated for the program (Payloads.cmake).
extern const TPayload gEmbeddedPayloads[];
extern const std::size_t gEmbeddedPayloadCount;

std::span<const TPayload> EmbeddedPayloads() {
  return {gEmbeddedPayloads, gEmbeddedPayloadCount};
}

const TPayload* FindEmbeddedPayload(std::string_view name) {
  auto sameIgnoringCase = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
        return false;
    return true;
  };
  for (const TPayload& payload : EmbeddedPayloads())
    if (sameIgnoringCase(payload.name, name)) return &payload;
  return nullptr;
}

}  // namespace ospry::launcher
