# GoogleTest built from its source for a cross build, where no package has
# it for the target: Debian's googletest package puts the source in
# /usr/src/googletest. Sets GTest_FOUND and the GTest:: targets when it is
# there.
set(PI_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source, built for cross builds")
if(EXISTS ${PI_GOOGLETEST_SOURCE}/CMakeLists.txt)
  set(BUILD_GMOCK OFF CACHE BOOL "GoogleMock is not used" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "GoogleTest is built for the tests only" FORCE)
  add_subdirectory(${PI_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(GTest_FOUND TRUE)
  message(STATUS "GoogleTest built from ${PI_GOOGLETEST_SOURCE}")
endif()
