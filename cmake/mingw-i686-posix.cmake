# Cross-compiling the 32-bit Windows tests: the shipped programs' settings
# with the posix thread model, which gives the std::mutex and std::thread
# that GoogleTest needs. The programs under test come from the shipped build.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
