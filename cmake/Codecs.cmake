# The libraries behind the bzip2, LZMA, XZ and Zstandard decoders: Debian's
# -dev packages natively; for Windows, Debian's source packages cross-built
# into the build folder. The installed engine carries the cross-built ones
# beside itself.
if(NOT WIN32)
  set(QUV_CODEC_LIBS bz2 lzma zstd)
  target_link_libraries(quv_unzip PRIVATE ${QUV_CODEC_LIBS})
  return()
endif()

include(${CMAKE_SOURCE_DIR}/cmake/DebianLibrary.cmake)
quv_debian_library(bz2 PACKAGE bzip2 LIBRARY libbz2.a HEADERS <SOURCE_DIR>/bzlib.h
  MAKE libbz2.a "CFLAGS=-O2 -D_FILE_OFFSET_BITS=64")
# Decompression only, one thread, the portable C code.
quv_debian_library(zstd PACKAGE libzstd LIBRARY lib/libzstd.a
  HEADERS <SOURCE_DIR>/lib/zstd.h <SOURCE_DIR>/lib/zstd_errors.h
  MAKE -C lib libzstd.a ZSTD_LIB_COMPRESSION=0 ZSTD_LIB_DICTBUILDER=0 ZSTD_LIB_DEPRECATED=0
       ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_ASM=1)
# liblzma alone. Its threads are only for multi-threaded coding, which the
# engine does not use; with the win32 thread model they are the XP-compatible
# kind anyway.
quv_debian_library(lzma PACKAGE xz-utils LIBRARY liblzma.a TARGET liblzma
  HEADERS <SOURCE_DIR>/src/liblzma/api/lzma.h <SOURCE_DIR>/src/liblzma/api/lzma
  CMAKE_ARGS -DBUILD_SHARED_LIBS=OFF)

foreach(lib bz2 zstd lzma)
  target_link_libraries(quv_decompress_objects PRIVATE quv_${lib})
  get_target_property(file quv_${lib} IMPORTED_LOCATION)
  get_filename_component(name ${file} NAME)
  target_link_libraries(quv_unzip PRIVATE $<BUILD_INTERFACE:quv_${lib}>
                                          $<INSTALL_INTERFACE:$<INSTALL_PREFIX>/${CMAKE_INSTALL_LIBDIR}/${name}>)
  install(FILES ${file} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endforeach()
target_compile_definitions(quv_decompress_objects PRIVATE LZMA_API_STATIC)
