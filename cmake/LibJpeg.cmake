# libjpeg for the Windows programs: Debian's libjpeg-turbo source package,
# cross-built once per build folder (about 20 seconds).
include_guard(GLOBAL)
include(${CMAKE_SOURCE_DIR}/cmake/DebianLibrary.cmake)

quv_debian_library(jpeg PACKAGE libjpeg-turbo LIBRARY libjpeg.a TARGET jpeg-static
  # Only the library and its four public headers are needed, not the tools.
  HEADERS <BINARY_DIR>/jconfig.h <SOURCE_DIR>/jpeglib.h <SOURCE_DIR>/jmorecfg.h <SOURCE_DIR>/jerror.h
  CMAKE_ARGS
    -DENABLE_SHARED=OFF
    -DENABLE_STATIC=ON
    -DWITH_TURBOJPEG=OFF
    # The SIMD code needs nasm; a 166 x 279 picture decodes fast enough without it.
    -DWITH_SIMD=OFF
    -DCMAKE_POSITION_INDEPENDENT_CODE=OFF)
