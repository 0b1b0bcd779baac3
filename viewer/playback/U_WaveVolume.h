#pragma once
// The system volume the play control bar's knob reads and sets: the volume of
// the default PulseAudio output (sink), as 0..65535 per channel with the left
// channel in the low word and the right channel in the high word. A mono sink
// reads the same value in both words; setting it uses the louder of the two.
//
// Each call makes a short connection of its own (at most a few seconds when
// the server does not answer). Thread-safe; nothing is shared between calls.
// server names the PulseAudio server ("unix:/path/native"); empty means the
// user's default server.
#include <cstdint>
#include <string>

namespace ospry {

// The default output's volume; 0x0000FFFF when there is no server or no
// default output.
std::uint32_t GetWaveVolume(const std::string& server = {});

// Sets the default output's volume; false when there is no server or no
// default output, or the server refused.
bool SetWaveVolume(std::uint32_t volume, const std::string& server = {});

}  // namespace ospry
