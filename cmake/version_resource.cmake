# lanternbrook_version_resource(<target> <language> <description>): the
# executable's version resource (res/version.rc.in): the project version, its
# file description and the Windows language id of its texts (0416: pt-BR).
function(lanternbrook_version_resource target language description)
  get_target_property(file_name ${target} OUTPUT_NAME)
  if(NOT file_name)
    set(file_name ${target})
  endif()
  set(rc ${PROJECT_BINARY_DIR}/generated/res/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/res/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
