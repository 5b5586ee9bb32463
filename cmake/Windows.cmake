# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows build's tests (run under Wine through CMAKE_CROSSCOMPILING_EMULATOR).

include(CTest)
if(BUILD_TESTING)
  # GoogleTest from Debian's source (googletest), built with the cross compiler.
  set(VANTREL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source")
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VANTREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  add_subdirectory(tests/windows)
endif()
