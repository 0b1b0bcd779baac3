# ospry-clip play: playback through the engine, headless or into render
# windows (--window), with sound on PulseAudio (--sound).
target_sources(ospry-clip PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/Cmd_Play.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/PlayOutputs.cpp)
target_link_libraries(ospry-clip PRIVATE ospry::playback ospry::decoding ospry::sources
  ospry::render ospry::wavestream)
# libxcb: --window checks that the X server answers before Qt would abort.
pkg_check_modules(PLAY_XCB REQUIRED IMPORTED_TARGET xcb)
target_link_libraries(ospry-clip PRIVATE PkgConfig::PLAY_XCB)
