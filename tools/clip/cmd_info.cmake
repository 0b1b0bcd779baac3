target_sources(ospry-clip PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/Cmd_Info.cpp)
target_link_libraries(ospry-clip PRIVATE ospry::container)
