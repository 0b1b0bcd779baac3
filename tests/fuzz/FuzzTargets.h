#pragma once
// Entry functions of the fuzz targets, shared by the libFuzzer executables and
// by the container tests, which replay the seed corpus and every crash input.
#include <cstddef>
#include <cstdint>

namespace ospry::fuzz {

// The bytes as a whole file: the container reader (at the file's end and at a
// position inside it), the index lookups and the frame check.
int FuzzClipReader(const std::uint8_t* data, std::size_t size);
// The bytes as a whole file: the multi-clip splitter, the containers it names
// and the headless authentication.
int FuzzClipSplitter(const std::uint8_t* data, std::size_t size);

}  // namespace ospry::fuzz
