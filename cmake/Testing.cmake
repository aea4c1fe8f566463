# GoogleTest is built from Debian's source package so that sanitizer builds
# instrument it as well; the prebuilt libraries are the fallback.
if(EXISTS /usr/src/googletest/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# fb_add_test_dir(<glob pattern> LIBS <libs...> [PROPERTIES <test properties...>])
# Every matching source file becomes one test executable named after the file;
# its tests are registered with CTest one by one, with the extra properties.
function(fb_add_test_dir pattern)
  cmake_parse_arguments(ARG "" "" "LIBS;PROPERTIES" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${pattern})
  foreach(_src IN LISTS _sources)
    get_filename_component(_name ${_src} NAME_WE)
    add_executable(${_name} ${_src})
    target_link_libraries(${_name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
    gtest_discover_tests(${_name}
      NO_PRETTY_VALUES
      DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT 120 ${ARG_PROPERTIES})
  endforeach()
endfunction()
