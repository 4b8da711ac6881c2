# corvane_add_gtest(NAME SOURCES ... [LIBS ...] [ARGS ...]): a GoogleTest program registered
# with CTest. Windows test programs run under Wine through the cross-compiling
# emulator of the toolchain file.
function(corvane_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ARGS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(WIN32)
    target_link_options(${name} PRIVATE -mconsole)
  endif()
  add_test(NAME ${name} COMMAND ${name} ${ARG_ARGS})
  if(WIN32)
    # A program that dies of an unhandled exception under Wine may still exit
    # with 0 once Wine's debugger has reported it, and every test after the
    # fault would go unrun unnoticed.
    set_tests_properties(${name} PROPERTIES FAIL_REGULAR_EXPRESSION "wine: Unhandled ")
  endif()
endfunction()
