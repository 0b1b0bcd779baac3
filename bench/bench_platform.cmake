# Platform and logging benchmarks: an uncontended named mutex (taken around
# every decoding call) and the cost of AddMessage for the calling thread.
add_executable(platform_bench ${CMAKE_CURRENT_SOURCE_DIR}/platform_bench.cpp)
target_link_libraries(platform_bench PRIVATE ospry::platform ospry::logging benchmark::benchmark)
