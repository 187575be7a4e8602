# Included at the end of project() (CMAKE_PROJECT_INCLUDE) in a MinGW-w64
# configure on Linux, so that the build takes the branch a native Windows
# build takes (MSYS2 in CI): not cross-compiling, GoogleTest found as a
# package. Only configuring is meaningful; nothing here is built.
set(CMAKE_CROSSCOMPILING OFF)
unset(CMAKE_CROSSCOMPILING_EMULATOR)
set(GTest_DIR ${CMAKE_CURRENT_LIST_DIR}/native_windows_gtest CACHE PATH "" FORCE)
