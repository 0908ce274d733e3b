# GoogleTest: the installed package natively; built from Debian's sources when cross compiling.
if(CMAKE_CROSSCOMPILING)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# kivom_add_test(<name> SOURCES ... [LIBRARIES ...])
# A GoogleTest program. Natively each test case becomes a ctest test; under Wine the
# whole program is one ctest test, since each Wine start costs about a second, with a time
# limit of a minute (these programs take a few seconds on a busy machine).
function(kivom_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "wine;${ARG_LABELS}" FIXTURES_REQUIRED wine
      TIMEOUT 60)
  else()
    # The discovered tests' properties reach a generated script unquoted, so a list would
    # come apart there: the tests carry one label, the program's area.
    set(label native)
    if(ARG_LABELS)
      list(GET ARG_LABELS 0 label)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${label})
  endif()
endfunction()
