# GoogleTest built from source with the project's own compiler (Debian ships
# the sources in /usr/src/googletest). Elsewhere pass GTEST_SOURCE_DIR.
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(EXISTS ${GTEST_SOURCE_DIR}/CMakeLists.txt)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  message(WARNING "GoogleTest sources not found in ${GTEST_SOURCE_DIR}: tests are not built")
endif()
