# Provides GTest::gtest and GTest::gtest_main. Native builds use the installed
# GoogleTest; cross builds compile it from the distribution's sources
# (Debian package googletest, /usr/src/googletest) with the cross compiler.
set(BRIX_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest sources compiled by cross builds")
if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest REQUIRED)
  return()
endif()
if(NOT EXISTS ${BRIX_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${BRIX_GOOGLETEST_SOURCE_DIR} "
                      "(Debian: apt-get install googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
# Its own build defines the targets GTest::gtest and GTest::gtest_main.
add_subdirectory(${BRIX_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its warnings are not ours to fix. (The static link warns about its
# test-result streaming client, which the tests never use.)
foreach(target gtest gtest_main)
  target_compile_options(${target} PRIVATE -Wno-error)
endforeach()
