# The client library's functions as a 32-bit __stdcall build names them: the name, "@" and the
# bytes of arguments the function takes off the stack (ZEBC_Adm_Dump@12), read from the tool's
# one list of them in src/zebcli_functions.h; ZEBCLI_NAMES holds the plain names.
file(READ ${CMAKE_CURRENT_LIST_DIR}/../src/zebcli_functions.h list_header)
string(REGEX MATCHALL "X\\(ZEBC_[A-Za-z_]+, [0-9]+," entries "${list_header}")
set(ZEBCLI_FUNCTIONS)
set(ZEBCLI_NAMES)
foreach(entry IN LISTS entries)
  string(REGEX MATCH "X\\((ZEBC_[A-Za-z_]+), ([0-9]+)," entry "${entry}")
  list(APPEND ZEBCLI_FUNCTIONS ${CMAKE_MATCH_1}@${CMAKE_MATCH_2})
  list(APPEND ZEBCLI_NAMES ${CMAKE_MATCH_1})
endforeach()
if(NOT ZEBCLI_FUNCTIONS)
  message(FATAL_ERROR "src/zebcli_functions.h lists no function in the form X(name, bytes, ...)")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_CURRENT_LIST_DIR}/../src/zebcli_functions.h)
