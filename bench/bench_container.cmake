# Clip container benchmarks: CRC-32 speed against the bytewise baseline, index
# loading and lookups, and the file checksum pass of a 1 GiB package.
find_package(ZLIB REQUIRED)
add_executable(container_bench ${CMAKE_CURRENT_SOURCE_DIR}/container_bench.cpp)
target_link_libraries(container_bench PRIVATE ospry::container ospry::writer benchmark::benchmark ZLIB::ZLIB)
