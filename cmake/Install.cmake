# cmake --install: the engine as a library for other projects (the static
# library, its headers under include/quv, the CMake package QuvUnZip and the
# pkg-config file quv-unzip), and quvunzip with its manual page (cli/).
include(CMakePackageConfigHelpers)
set(QUV_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuvUnZip)

install(TARGETS quv_unzip EXPORT QuvUnZipTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY zip unzip decompress platform DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quv
        FILES_MATCHING PATTERN "*.h")
install(EXPORT QuvUnZipTargets NAMESPACE QuvUnZip:: DESTINATION ${QUV_PACKAGE_DIR})

configure_package_config_file(cmake/QuvUnZipConfig.cmake.in ${CMAKE_BINARY_DIR}/QuvUnZipConfig.cmake
                              INSTALL_DESTINATION ${QUV_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/QuvUnZipConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/QuvUnZipConfig.cmake ${CMAKE_BINARY_DIR}/QuvUnZipConfigVersion.cmake
        DESTINATION ${QUV_PACKAGE_DIR})

list(TRANSFORM QUV_SYSTEM_LIBS PREPEND "-l" OUTPUT_VARIABLE QUV_PC_SYSTEM_LIBS)
list(TRANSFORM QUV_CODEC_LIBS PREPEND "-l" OUTPUT_VARIABLE QUV_PC_CODEC_LIBS)
list(PREPEND QUV_PC_SYSTEM_LIBS ${QUV_PC_CODEC_LIBS})
if(QUV_SANITIZE)
  # A sanitized library needs the sanitizers' runtime wherever it is linked.
  target_link_options(quv_unzip INTERFACE -fsanitize=address,undefined)
  list(APPEND QUV_PC_SYSTEM_LIBS -fsanitize=address,undefined)
endif()
string(JOIN " " QUV_PC_SYSTEM_LIBS ${QUV_PC_SYSTEM_LIBS})
# The prefix is found from the file's own place, so that it holds wherever
# the installation is put.
file(RELATIVE_PATH QUV_PC_PREFIX_FROM_PCFILEDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/quv-unzip.pc.in ${CMAKE_BINARY_DIR}/quv-unzip.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/quv-unzip.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
