# TDecodeMPEG (YV12 packing included) against plain libavcodec decoding of the
# same H.264 packets, side by side.
if(NOT TARGET PkgConfig::FFMPEG)
  pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil libswscale libswresample)
endif()
add_executable(decoding_bench ${CMAKE_CURRENT_LIST_DIR}/decoding_bench.cpp)
target_include_directories(decoding_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(decoding_bench PRIVATE ospry::decoding ospry::mediawriter PkgConfig::FFMPEG
  benchmark::benchmark benchmark::benchmark_main)
