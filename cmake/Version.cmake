# Gives a Windows program its version resource (resources/Version.rc.in) and
# its signature (scripts/sign-file, which signs only under make sign):
#   quv_version_resource(TARGET "description in Chinese" "description in English")
# The version is the project's; the product and company names are the same
# for every program.
set(QUV_COMPANY "Quv")
set(QUV_PRODUCT_ZH "收银软件Quv服务")
set(QUV_PRODUCT_EN "Quv Service")

function(quv_version_resource target description_zh description_en)
  set(QUV_PROGRAM ${target})
  set(QUV_DESCRIPTION_ZH ${description_zh})
  set(QUV_DESCRIPTION_EN ${description_en})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/resources/Version.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES COMPILE_OPTIONS "-c;65001")
  target_sources(${target} PRIVATE ${rc})
  # Signed as soon as it is linked when make sign gives a certificate, so
  # that the payload archive carries signed programs too.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/sign-file $<TARGET_FILE:${target}> VERBATIM)
endfunction()
