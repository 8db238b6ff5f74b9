# A Windows program's manifest and version resource, from res/ZEBCmd.rc.in; the version comes
# from project(), like the man page and the package.
function(add_version_resource target description)
  string(REPLACE "." ", " ZEBCMD_RC_VERSION ${PROJECT_VERSION})
  set(ZEBCMD_RC_MANIFEST ${PROJECT_SOURCE_DIR}/res/ZEBCmd.manifest)
  set(ZEBCMD_RC_NAME ${target})
  set(ZEBCMD_RC_DESCRIPTION ${description})
  set(rc ${PROJECT_BINARY_DIR}/res/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/res/ZEBCmd.rc.in ${rc} @ONLY)
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${ZEBCMD_RC_MANIFEST})
  target_sources(${target} PRIVATE ${rc})
endfunction()
