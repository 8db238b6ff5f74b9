# What the Windows build's parts share: its bitness, told here once, and each program's
# manifest and version resource.

# 32 or 64: the bitness of the programs, of the ZEBCli.dll they load and of the Wine loader
# that runs them in the tests. The shipped build is 32-bit.
math(EXPR ZEBCMD_WINDOWS_BITS "${CMAKE_SIZEOF_VOID_P} * 8")
if(ZEBCMD_WINDOWS_BITS EQUAL 32)
  set(ZEBCMD_PE_FORMAT pei-i386)
else()
  set(ZEBCMD_PE_FORMAT pei-x86-64)
endif()

# A program's manifest and version resource, from res/ZEBCmd.rc.in; the version comes from
# project(), like the man page and the package.
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
