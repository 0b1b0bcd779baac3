# ospry_add_test(NAME <name> SOURCES <files...> LIBS <targets...>
#                [LABELS <labels...>] [ENV <VAR=value...>] [WRAPPER <command...>])
# One GoogleTest executable per module, registered with CTest as one test each
# so that a module's cases run in one process. LABELS lets `make check-tsan`
# pick the threaded modules; WRAPPER runs the executable under a helper script
# (Xvfb, a private sound server).
include(GoogleTest)
find_package(GTest REQUIRED)

function(ospry_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENV;WRAPPER" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  if(T_WRAPPER)
    add_test(NAME ${T_NAME} COMMAND ${T_WRAPPER} $<TARGET_FILE:${T_NAME}>)
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "TZ=Europe/Berlin;${T_ENV}")
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
