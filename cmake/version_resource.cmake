# lanternbrook_version_resource(<target> <language> <description>): gives the
# executable <target> a version resource (res/version.rc.in) with the project
# version, <description> as its file description and <language> (a Windows
# language id in four hex digits, such as 0416 for Brazilian Portuguese) as
# the language of its texts.
function(lanternbrook_version_resource target language description)
  set(rc ${PROJECT_BINARY_DIR}/generated/res/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/res/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
