# The engine's folders as floors, each an object library that may use only
# the floors below it: platform <- zip <- decompress <- unzip. Every floor is
# compiled against an include root of its own in the build folder that links
# to its own folder and the folders below, and to nothing else, so an include
# that goes up a floor names a file that is not there and fails to compile
# (tests/layers shows it). The objects are combined into quv_unzip, the one
# static library callers link and install.
set(QUV_ENGINE_LAYERS platform zip decompress unzip)

function(quv_layer_root layer out)
  list(FIND QUV_ENGINE_LAYERS ${layer} top)
  math(EXPR count "${top} + 1")
  list(SUBLIST QUV_ENGINE_LAYERS 0 ${count} visible)
  set(root ${CMAKE_BINARY_DIR}/layers/${layer})
  file(MAKE_DIRECTORY ${root})
  foreach(dir IN LISTS visible)
    if(NOT IS_SYMLINK ${root}/${dir})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${dir} ${root}/${dir} SYMBOLIC)
    endif()
  endforeach()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

# An object library compiled with layer's include root.
function(quv_layer_objects target layer)
  quv_layer_root(${layer} root)
  add_library(${target} OBJECT ${ARGN})
  target_include_directories(${target} PRIVATE ${root})
endfunction()

foreach(layer IN LISTS QUV_ENGINE_LAYERS)
  file(GLOB sources CONFIGURE_DEPENDS ${layer}/*.cpp)
  quv_layer_objects(quv_${layer}_objects ${layer} ${sources})
endforeach()
