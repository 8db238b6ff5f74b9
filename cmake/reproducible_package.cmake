# Runs in cpack after the packages are written (CPACK_POST_BUILD_SCRIPTS): rewrites each zip
# with fixed times and order, so that two builds of one commit give the same package bytes.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${CPACK_ZEBCMD_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/reproducible_zip.py
                          ${package} ${CPACK_ZEBCMD_SOURCE_DATE_EPOCH} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
