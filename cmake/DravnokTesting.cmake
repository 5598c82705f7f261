# Unit tests: one GoogleTest binary per subsystem, from tests/<name>/*_test.cpp
# (portable) and tests/<name>/<platform>/*_test.cpp.
if(CMAKE_CROSSCOMPILING)
  # No GoogleTest build for mingw in the registries: build Debian's sources.
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set(DRAVNOK_GTEST_LIBS GTest::gtest GTest::gmock GTest::gtest_main)
  foreach(_t gtest gmock gtest_main gmock_main)
    if(TARGET ${_t})
      target_compile_options(${_t} PRIVATE -Wno-error)
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
  set(DRAVNOK_GTEST_LIBS GTest::gtest GTest::gmock GTest::gtest_main)
  include(GoogleTest)
endif()

find_package(Python3 COMPONENTS Interpreter)

# PROPERTIES are test properties for every test of the binary (for example
# RUN_SERIAL TRUE for tests that need the X screen to themselves).
function(dravnok_unit_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS;PROPERTIES" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/${DRAVNOK_PLATFORM}/*_test.cpp)
  if(NOT _sources)
    return()
  endif()
  add_executable(${name}_tests ${_sources})
  target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} ${DRAVNOK_GTEST_LIBS})
  target_include_directories(${name}_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  set_property(GLOBAL APPEND PROPERTY DRAVNOK_UNIT_TEST_TARGETS ${name}_tests)
  # The subsystem's name as the label lets a build run a subset, as the
  # sanitizer builds do (ctest -L congestion); program tests carry the label
  # "program" (ctest -LE program runs only the unit tests).
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name}_tests COMMAND ${name}_tests)
    set_tests_properties(${name}_tests PROPERTIES LABELS ${name} ${ARG_PROPERTIES})
  else()
    gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${name} ${ARG_PROPERTIES})
  endif()
endfunction()

# A Python test script that drives a built program from outside.
function(dravnok_script_test name script)
  add_test(NAME ${name}
           COMMAND ${Python3_EXECUTABLE} ${script} ${ARGN})
  set_tests_properties(${name} PROPERTIES LABELS program
                       ENVIRONMENT "PYTHONPATH=${PROJECT_SOURCE_DIR}/tests/lib")
endfunction()

# A script test of remote-helper: the script gets the program, and in a cross
# build the emulator that runs it, as tests/lib/helper_program.py reads them.
function(dravnok_helper_script_test name script)
  set(_emulator "")
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(_emulator --emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  dravnok_script_test(${name} ${CMAKE_CURRENT_SOURCE_DIR}/${script} --helper $<TARGET_FILE:remote-helper> ${_emulator})
endfunction()
