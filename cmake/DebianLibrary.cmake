# Static libraries for the Windows builds from Debian's source packages,
# cross-built with the build's own toolchain. Source and library stay in the
# build folder (debian/PACKAGE), so only the first build of a folder pays.
#
#   quv_debian_library(NAME PACKAGE <source package> LIBRARY <built library>
#                      HEADERS <files or folders> [TARGET <cmake target>]
#                      (CMAKE_ARGS <args> | MAKE <args>))
#
# CMake-built packages name the library below the build folder, make-built
# ones (built in their source tree) below the source tree; HEADERS are copied
# into the include folder (<SOURCE_DIR>/... or <BINARY_DIR>/...). Defines the
# imported target quv_NAME.
include_guard(GLOBAL)
include(ExternalProject)

function(quv_debian_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PACKAGE;LIBRARY;TARGET" "HEADERS;CMAKE_ARGS;MAKE")
  set(root ${CMAKE_BINARY_DIR}/debian/${arg_PACKAGE})
  set(prefix ${root}/install)
  get_filename_component(file ${arg_LIBRARY} NAME)
  if(arg_MAKE)
    set(build CONFIGURE_COMMAND ${CMAKE_COMMAND} -E true BUILD_IN_SOURCE ON
        BUILD_COMMAND make -j2 CC=${CMAKE_C_COMPILER} AR=${CMAKE_AR} RANLIB=${CMAKE_RANLIB} ${arg_MAKE})
    set(built <SOURCE_DIR>/${arg_LIBRARY})
  else()
    set(build BINARY_DIR ${root}/build CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
        -DCMAKE_INSTALL_PREFIX=${prefix} ${arg_CMAKE_ARGS}
        BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target ${arg_TARGET} -j 2)
    set(built <BINARY_DIR>/${arg_LIBRARY})
  endif()
  ExternalProject_Add(debian_${name}
    PREFIX ${root}
    STAMP_DIR ${root}/stamp
    TMP_DIR ${root}/tmp
    DOWNLOAD_DIR ${root}/download
    SOURCE_DIR ${root}/download/src
    DOWNLOAD_COMMAND ${CMAKE_SOURCE_DIR}/cmake/fetch-debian-source ${arg_PACKAGE} ${root}/download
    UPDATE_COMMAND ""
    PATCH_COMMAND ""
    ${build}
    INSTALL_COMMAND ${CMAKE_COMMAND} -E copy ${built} ${prefix}/lib/${file}
      COMMAND cp -R ${arg_HEADERS} ${prefix}/include/
    BUILD_BYPRODUCTS ${prefix}/lib/${file}
    LOG_DOWNLOAD ON
    LOG_CONFIGURE ON
    LOG_BUILD ON
    LOG_INSTALL ON
    LOG_OUTPUT_ON_FAILURE ON)

  file(MAKE_DIRECTORY ${prefix}/include ${prefix}/lib)
  add_library(quv_${name} STATIC IMPORTED GLOBAL)
  set_target_properties(quv_${name} PROPERTIES
    IMPORTED_LOCATION ${prefix}/lib/${file}
    INTERFACE_INCLUDE_DIRECTORIES ${prefix}/include)
  add_dependencies(quv_${name} debian_${name})
endfunction()
