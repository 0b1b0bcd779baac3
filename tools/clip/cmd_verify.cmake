target_sources(ospry-clip PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/Cmd_Verify.cpp)
target_link_libraries(ospry-clip PRIVATE ospry::container)
