# libjpeg for the Windows programs: Debian's libjpeg-turbo source package,
# cross-built with the same mingw-w64 toolchain as the rest of the build. The
# source and the built library stay in the build folder, so only the first
# configure of a build folder pays for them (about 20 seconds).
include_guard(GLOBAL)
include(ExternalProject)

set(QUV_JPEG_ROOT ${CMAKE_BINARY_DIR}/libjpeg-turbo)
set(QUV_JPEG_PREFIX ${QUV_JPEG_ROOT}/install)
set(QUV_JPEG_LIBRARY ${QUV_JPEG_PREFIX}/lib/libjpeg.a)

ExternalProject_Add(libjpeg_turbo
  PREFIX ${QUV_JPEG_ROOT}
  STAMP_DIR ${QUV_JPEG_ROOT}/stamp
  TMP_DIR ${QUV_JPEG_ROOT}/tmp
  DOWNLOAD_DIR ${QUV_JPEG_ROOT}/download
  SOURCE_DIR ${QUV_JPEG_ROOT}/download/src
  BINARY_DIR ${QUV_JPEG_ROOT}/build
  DOWNLOAD_COMMAND ${CMAKE_SOURCE_DIR}/cmake/fetch-libjpeg-source ${QUV_JPEG_ROOT}/download
  UPDATE_COMMAND ""
  PATCH_COMMAND ""
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=${QUV_JPEG_PREFIX}
    -DENABLE_SHARED=OFF
    -DENABLE_STATIC=ON
    -DWITH_TURBOJPEG=OFF
    # The SIMD code needs nasm; a 166 x 279 picture decodes fast enough without it.
    -DWITH_SIMD=OFF
    -DCMAKE_POSITION_INDEPENDENT_CODE=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target jpeg-static -j 2
  # Only the library and its four public headers are needed, not the tools.
  INSTALL_COMMAND ${CMAKE_COMMAND} -E make_directory ${QUV_JPEG_PREFIX}/lib ${QUV_JPEG_PREFIX}/include
    COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/libjpeg.a ${QUV_JPEG_PREFIX}/lib/
    COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/jconfig.h <SOURCE_DIR>/jpeglib.h
            <SOURCE_DIR>/jmorecfg.h <SOURCE_DIR>/jerror.h ${QUV_JPEG_PREFIX}/include/
  BUILD_BYPRODUCTS ${QUV_JPEG_LIBRARY}
  LOG_DOWNLOAD ON
  LOG_CONFIGURE ON
  LOG_BUILD ON
  LOG_OUTPUT_ON_FAILURE ON)

file(MAKE_DIRECTORY ${QUV_JPEG_PREFIX}/include)
add_library(quv_jpeg STATIC IMPORTED GLOBAL)
set_target_properties(quv_jpeg PROPERTIES
  IMPORTED_LOCATION ${QUV_JPEG_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${QUV_JPEG_PREFIX}/include)
add_dependencies(quv_jpeg libjpeg_turbo)
