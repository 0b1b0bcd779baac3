# ospry-clip play: headless playback through the engine.
target_sources(ospry-clip PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/Cmd_Play.cpp)
target_link_libraries(ospry-clip PRIVATE ospry::playback ospry::decoding ospry::sources)
