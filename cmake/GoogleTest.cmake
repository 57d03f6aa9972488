# GoogleTest, as the targets gtest and gtest_main: in the Linux build Debian's own build of it
# (package libgtest-dev), in the cross build built from Debian's sources (package googletest) with
# the project's own compiler.
#
# A test program's own code is compiled without optimizing: it is not the code under test (the
# libraries it links keep the build's flags), and optimizing it takes most of its compile time.
include_guard(GLOBAL)
if(CMAKE_CROSSCOMPILING)
    set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    set(GTEST_LIBRARY gtest)
else()
    find_package(GTest REQUIRED)
    set_target_properties(GTest::gtest GTest::gtest_main PROPERTIES IMPORTED_GLOBAL TRUE)
    add_library(gtest ALIAS GTest::gtest)
    add_library(gtest_main ALIAS GTest::gtest_main)
    set(GTEST_LIBRARY GTest::gtest)
endif()
if(NOT MSVC)
    target_compile_options(${GTEST_LIBRARY} INTERFACE -O0)
endif()
