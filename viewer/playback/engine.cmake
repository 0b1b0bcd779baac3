# Playback engine: frames and frame buffers, the render throttle, the file and
# stream players. Builds and tests with no display and no sound server: the
# renderer and the wave output come in through factories.
add_library(ospry_playback STATIC
  ${CMAKE_CURRENT_LIST_DIR}/U_FrameClass.cpp
  ${CMAKE_CURRENT_LIST_DIR}/U_LinkedList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/U_FrameBuffer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/U_RenderThrottle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/U_FilePlayer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/U_StreamPlayer.cpp
)
add_library(ospry::playback ALIAS ospry_playback)
target_include_directories(ospry_playback PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ospry_playback PUBLIC ospry::decoding ospry::sources ospry::platform)
