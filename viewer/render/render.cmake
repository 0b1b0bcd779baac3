find_package(Qt6 REQUIRED COMPONENTS Gui OpenGL)

# Render windows and the YV12 renderer (OpenGL with a CPU fallback). Qt GUI
# only: the user interface embeds the windows in its widgets.
add_library(ospry_render STATIC
  YuvConvert.cpp
  RenderLog.cpp
  U_RenderWindow.cpp
  YUVPlayback.cpp
)
add_library(ospry::render ALIAS ospry_render)
target_include_directories(ospry_render PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ospry_render PUBLIC ospry::platform ospry::logging Qt6::Gui Qt6::OpenGL)
