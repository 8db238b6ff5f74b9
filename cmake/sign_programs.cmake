# Runs in cpack before the zip is made (CPACK_PRE_BUILD_SCRIPTS): signs both programs with the
# site's code-signing certificate when the build was given one, and does nothing otherwise.
if(NOT CPACK_ZEBCMD_SIGN_CERT AND NOT CPACK_ZEBCMD_SIGN_KEY)
  return()
endif()
if(NOT CPACK_ZEBCMD_SIGN_CERT OR NOT CPACK_ZEBCMD_SIGN_KEY)
  message(FATAL_ERROR "Signing needs both ZEBCMD_SIGN_CERT and ZEBCMD_SIGN_KEY")
endif()
if(NOT CPACK_ZEBCMD_OSSLSIGNCODE)
  message(FATAL_ERROR "Signing needs osslsigncode (Debian: osslsigncode)")
endif()
# A time-stamping server countersigns the time; without one the signature carries the package's
# time, so that two signed builds of one commit stay identical.
if(CPACK_ZEBCMD_SIGN_TIMESTAMP_URL)
  set(signing_time -ts ${CPACK_ZEBCMD_SIGN_TIMESTAMP_URL})
elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(signing_time -time $ENV{SOURCE_DATE_EPOCH})
else()
  set(signing_time -time ${CPACK_ZEBCMD_SOURCE_DATE_EPOCH})
endif()
set(password)
if(CPACK_ZEBCMD_SIGN_PASSWORD_FILE)
  set(password -readpass ${CPACK_ZEBCMD_SIGN_PASSWORD_FILE})
endif()
foreach(program ZEBCmd.exe ZEBCmdCon.exe)
  set(path ${CPACK_TEMPORARY_DIRECTORY}/${program})
  file(RENAME ${path} ${path}.unsigned)
  execute_process(COMMAND ${CPACK_ZEBCMD_OSSLSIGNCODE} sign -certs ${CPACK_ZEBCMD_SIGN_CERT}
                          -key ${CPACK_ZEBCMD_SIGN_KEY} ${password} -h sha256 -n ZEBCmd
                          ${signing_time} -in ${path}.unsigned -out ${path}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(CHMOD ${path} FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
             GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  file(REMOVE ${path}.unsigned)
endforeach()
