# Runs in cpack after the packages are written (CPACK_POST_BUILD_SCRIPTS): rewrites each zip
# with fixed times and order, so that two builds of one commit give the same package bytes.
# SOURCE_DATE_EPOCH is read again here, so that a packager can set it when the package is made.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
  set(epoch ${CPACK_ZEBCMD_SOURCE_DATE_EPOCH})
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a count of seconds, not '${epoch}'")
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${CPACK_ZEBCMD_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/reproducible_zip.py
                          ${package} ${epoch} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
