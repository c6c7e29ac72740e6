# GoogleTest built from source with the project's own compiler (Debian ships
# the sources in /usr/src/googletest). Elsewhere pass GTEST_SOURCE_DIR.
# Without it the configure step fails: a build that quietly has no tests
# would pass every test run.
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${GTEST_SOURCE_DIR}: install googletest "
    "(tools/bootstrap does), pass -DGTEST_SOURCE_DIR=<folder>, or configure with -DBUILD_TESTING=OFF")
endif()
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
