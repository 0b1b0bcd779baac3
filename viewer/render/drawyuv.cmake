# Drawing surface: YV12 pictures to 24-bit bitmap files. No Qt.
add_library(ospry_drawyuv STATIC ${CMAKE_CURRENT_LIST_DIR}/DrawYUV_New.cpp)
add_library(ospry::drawyuv ALIAS ospry_drawyuv)
target_include_directories(ospry_drawyuv PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ospry_drawyuv PUBLIC ospry::platform)
