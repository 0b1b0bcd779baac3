# Wave stream and system volume on PulseAudio.
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
add_library(ospry_wavestream STATIC
  U_WaveStream.cpp
  U_WaveVolume.cpp
)
add_library(ospry::wavestream ALIAS ospry_wavestream)
target_include_directories(ospry_wavestream PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ospry_wavestream PUBLIC ospry::platform PRIVATE PkgConfig::PULSE)
