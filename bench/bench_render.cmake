# Renderer speed: the CPU conversion and DrawFrame on both paths. Run it under
# tests/render/run-under-xvfb.sh for the OpenGL path; without a display it
# uses the offscreen platform and skips the OpenGL cases.
add_executable(render_bench ${CMAKE_CURRENT_SOURCE_DIR}/render_bench.cpp)
target_link_libraries(render_bench PRIVATE ospry::render benchmark::benchmark)
