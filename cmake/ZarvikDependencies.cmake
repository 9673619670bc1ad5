# CLI11 is header-only. A cross build for Windows looks only in the MinGW sysroot, so
# there it takes the host's headers from a folder that holds nothing else (the host's
# /usr/include would bring glibc's headers with it).
find_package(CLI11 QUIET)
if(NOT TARGET CLI11::CLI11)
  find_path(ZARVIK_CLI11_HOST_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ZARVIK_CLI11_HOST_DIR)
    message(FATAL_ERROR "CLI11 not found (Debian: libcli11-dev)")
  endif()
  set(cli11_dir ${CMAKE_BINARY_DIR}/cli11-include)
  file(MAKE_DIRECTORY ${cli11_dir})
  file(CREATE_LINK ${ZARVIK_CLI11_HOST_DIR}/CLI ${cli11_dir}/CLI SYMBOLIC)
  add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
  target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${cli11_dir})
endif()

# GoogleTest for a cross build: Debian ships its sources, built here with the same
# compiler as the tests.
if(ZARVIK_TESTS AND CMAKE_CROSSCOMPILING)
  find_package(GTest QUIET)
  if(NOT GTest_FOUND AND EXISTS /usr/src/googletest/CMakeLists.txt)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    if(NOT TARGET GTest::gtest)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
    set(GTest_FOUND TRUE)
    set(GTEST_FOUND TRUE)
  endif()
endif()
