# ospry-clip snapshot: one decoded picture as a bitmap file.
target_sources(ospry-clip PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/Cmd_Snapshot.cpp)
target_link_libraries(ospry-clip PRIVATE ospry::decoding ospry::drawyuv ospry::sources)
