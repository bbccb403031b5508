# Test support: GoogleTest from the system, or built from the sources Debian ships under
# /usr/src/googletest when no prebuilt package is there (or when cross-compiling).
find_package(GTest CONFIG QUIET)
if(NOT TARGET GTest::gtest_main)
  set(VELMORAN_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
  if(NOT EXISTS "${VELMORAN_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest not found: install libgtest-dev or set VELMORAN_GOOGLETEST_SOURCE_DIR")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory("${VELMORAN_GOOGLETEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  foreach(library gtest gtest_main gmock)
    if(NOT TARGET GTest::${library})
      add_library(GTest::${library} ALIAS ${library})
    endif()
  endforeach()
endif()
include(GoogleTest)

# velmoran_add_test(name SOURCES file... [LIBRARIES target...] [LABELS label...])
# Adds one GoogleTest executable and registers each of its tests with CTest, under the given
# labels (the test presets select by label, e.g. "threads" for ThreadSanitizer).
function(velmoran_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} velmoran_test_support GTest::gmock
                                        GTest::gtest_main)
  velmoran_set_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120
                       LABELS "${ARG_LABELS}")
endfunction()
