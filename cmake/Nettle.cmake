# Nettle, the crypto library behind WinZip AES (AES, SHA-1, HMAC, PBKDF2):
# the target quv_nettle. Natively it is Debian's libnettle (nettle-dev). The
# Windows builds cross-build Debian's nettle source package with the same
# mingw-w64 compiler: static, libnettle alone (no public-key half, so no
# GMP), without documentation. Source and library stay in the build folder,
# so only the first build of a folder pays for them.
include_guard(GLOBAL)

if(NOT WIN32)
  find_library(QUV_NETTLE_LIBRARY nettle REQUIRED)
  find_path(QUV_NETTLE_INCLUDE_DIR nettle/aes.h REQUIRED)
  add_library(quv_nettle UNKNOWN IMPORTED GLOBAL)
  set_target_properties(quv_nettle PROPERTIES
    IMPORTED_LOCATION ${QUV_NETTLE_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${QUV_NETTLE_INCLUDE_DIR})
  return()
endif()

include(ExternalProject)

set(QUV_NETTLE_ROOT ${CMAKE_BINARY_DIR}/nettle)
set(QUV_NETTLE_PREFIX ${QUV_NETTLE_ROOT}/install)
set(QUV_NETTLE_LIBRARY ${QUV_NETTLE_PREFIX}/lib/libnettle.a)
string(REGEX REPLACE "-gcc(-[a-z0-9]+)?$" "" QUV_NETTLE_HOST "${CMAKE_C_COMPILER}")
get_filename_component(QUV_NETTLE_HOST ${QUV_NETTLE_HOST} NAME)

# NDEBUG: Nettle's assert() checks would make the shipped programs import
# msvcrt's _assert, which their reviewed import list does not hold.
string(JOIN " " QUV_NETTLE_CONFIGURE
  <SOURCE_DIR>/configure --host=${QUV_NETTLE_HOST} CC=${CMAKE_C_COMPILER} "'CFLAGS=-O2 -DNDEBUG'"
  --prefix=${QUV_NETTLE_PREFIX} --libdir=${QUV_NETTLE_PREFIX}/lib
  --disable-shared --enable-static --disable-public-key --disable-documentation --disable-openssl)

ExternalProject_Add(nettle_source_build
  PREFIX ${QUV_NETTLE_ROOT}
  STAMP_DIR ${QUV_NETTLE_ROOT}/stamp
  TMP_DIR ${QUV_NETTLE_ROOT}/tmp
  DOWNLOAD_DIR ${QUV_NETTLE_ROOT}/download
  SOURCE_DIR ${QUV_NETTLE_ROOT}/download/src
  BINARY_DIR ${QUV_NETTLE_ROOT}/build
  DOWNLOAD_COMMAND ${CMAKE_SOURCE_DIR}/cmake/fetch-debian-source nettle ${QUV_NETTLE_ROOT}/download
  UPDATE_COMMAND ""
  # Unpacking leaves configure.ac newer than what autoconf made from it;
  # without this make would want autoheader.
  PATCH_COMMAND touch <SOURCE_DIR>/aclocal.m4
    COMMAND touch <SOURCE_DIR>/configure <SOURCE_DIR>/stamp-h.in
    COMMAND touch <SOURCE_DIR>/config.h.in
  CONFIGURE_COMMAND sh -c "${QUV_NETTLE_CONFIGURE}"
  # Runs after each configure, from clean: make does not see changed flags.
  # With the assembler parts first, and without them when they do not build
  # for the target.
  BUILD_COMMAND sh -c "make clean && make -j2 libnettle.a || (${QUV_NETTLE_CONFIGURE} --disable-assembler && make clean && make -j2 libnettle.a)"
  INSTALL_COMMAND make install-headers install-static
  BUILD_BYPRODUCTS ${QUV_NETTLE_LIBRARY}
  LOG_DOWNLOAD ON
  LOG_CONFIGURE ON
  LOG_BUILD ON
  LOG_INSTALL ON
  LOG_OUTPUT_ON_FAILURE ON)

file(MAKE_DIRECTORY ${QUV_NETTLE_PREFIX}/include)
add_library(quv_nettle STATIC IMPORTED GLOBAL)
set_target_properties(quv_nettle PROPERTIES
  IMPORTED_LOCATION ${QUV_NETTLE_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${QUV_NETTLE_PREFIX}/include)
add_dependencies(quv_nettle nettle_source_build)
# Installed beside the engine, which needs it.
install(FILES ${QUV_NETTLE_LIBRARY} DESTINATION ${CMAKE_INSTALL_LIBDIR})
