# Stands in for MSYS2's GoogleTest package while configuring the native
# Windows branch on Linux.
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest INTERFACE IMPORTED)
  add_library(GTest::gtest_main INTERFACE IMPORTED)
  add_library(GTest::gmock INTERFACE IMPORTED)
  add_library(GTest::gmock_main INTERFACE IMPORTED)
endif()
set(GTest_FOUND TRUE)
