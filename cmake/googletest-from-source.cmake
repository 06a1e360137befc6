# GoogleTest compiled from Debian's source package (libgtest-dev puts it in /usr/src/googletest)
# with the project's compiler: a cross build cannot link the host's prebuilt libraries.
# Provides GTest::gtest and GTest::gtest_main as find_package(GTest) would.

if(TARGET GTest::gtest_main)
  return()
endif()

set(QVR_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${QVR_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest source at ${QVR_GOOGLETEST_SOURCE} (install libgtest-dev)")
endif()

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)

# The project's warnings are for its own code; GoogleTest is built the way its authors do.
get_directory_property(qvr_saved_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${QVR_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${qvr_saved_options}")

# GoogleTest 1.11 and later name their targets GTest::gtest and GTest::gtest_main themselves.
if(NOT TARGET GTest::gtest_main)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()
