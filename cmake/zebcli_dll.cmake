# Builds the tool against the client library's DLL alone, as vendors often ship it: reads the
# DLL's exports, tells its calling convention and makes the import library with MinGW-w64's own
# tools (objdump, gendef, dlltool). A wrong convention would not fail at link time but corrupt
# the stack on every call, so anything that cannot be told for sure is refused here. The
# functions it looks for are ZEBCLI_FUNCTIONS (zebcli_functions.cmake, read at the top level).

# Stops the configure with the reason, given in parts after DLL.
function(zebcli_refuse dll)
  string(CONCAT why ${ARGN})
  message(FATAL_ERROR "${dll}: ${why}\nGive the vendor's header and import library instead "
                      "(ZEBCMD_ZEBCLI_INCLUDE_DIR, ZEBCMD_ZEBCLI_IMPORT_LIBRARY).")
endfunction()

# Stops the configure for a DLL whose functions take arguments in registers, with what shows it.
function(zebcli_refuse_registers dll)
  string(CONCAT seen ${ARGN})
  message(FATAL_ERROR "${dll}: ${seen}, so they take arguments in registers (__fastcall or "
                      "thiscall). ZEBCmd calls the client library only as __cdecl or __stdcall: "
                      "ask the vendor for a ZEBCli.dll of either.")
endfunction()

function(zebcli_run out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE errors
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} failed (${status}): ${errors}")
  endif()
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

# The bitness of a PE file from its header (machine field), read before objdump, which reads
# only files of its own target: 32, 64, or empty when the file is no x86 PE file.
function(zebcli_bits dll out)
  set(${out} "" PARENT_SCOPE)
  file(READ "${dll}" dos HEX LIMIT 64)
  if(NOT dos MATCHES "^4d5a" OR NOT dos MATCHES "(..)(..)(..)(..)$")
    return()
  endif()
  math(EXPR header "0x${CMAKE_MATCH_4}${CMAKE_MATCH_3}${CMAKE_MATCH_2}${CMAKE_MATCH_1}")
  file(READ "${dll}" pe HEX OFFSET ${header} LIMIT 6)
  if(pe STREQUAL "504500004c01")
    set(${out} 32 PARENT_SCOPE)
  elseif(pe STREQUAL "504500006486")
    set(${out} 64 PARENT_SCOPE)
  endif()
endfunction()

# The exported names, from objdump's table of name pointers, and the name the export directory
# gives the DLL.
function(zebcli_exports dll names_out own_name_out)
  zebcli_run(dump ${CMAKE_OBJDUMP} -p ${dll})
  string(REGEX MATCH "\nName[ \t]+[0-9a-fA-F]+ ([^\n]*)" ignored "${dump}")
  set(${own_name_out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" table "${dump}")
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [^ \n]+" entries "${table}")
  set(names)
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE ".* " "" entry "${entry}")
    list(APPEND names "${entry}")
  endforeach()
  set(${names_out} "${names}" PARENT_SCOPE)
endfunction()

# How gendef sees the plain-named functions that take arguments: "callee" where the function
# cleans its arguments off the stack (__stdcall), "caller" where it leaves them (__cdecl),
# "registers" where it cleans fewer bytes than its arguments fill (__fastcall, thiscall).
function(zebcli_cleanup dll gendef out)
  zebcli_run(definitions ${gendef} - ${dll})
  set(seen)
  foreach(decorated_name IN LISTS ZEBCLI_FUNCTIONS)
    string(REGEX REPLACE "@.*" "" name "${decorated_name}")
    if(decorated_name MATCHES "@0$")
      continue()
    elseif(definitions MATCHES "\n${decorated_name}[ \n]")
      list(APPEND seen callee)
    elseif(definitions MATCHES "\n${name}[ \n]")
      list(APPEND seen caller)
    elseif(definitions MATCHES "\n${name}@[0-9]+[ \n]")
      list(APPEND seen registers)
    else()
      list(APPEND seen unknown)
    endif()
  endforeach()
  list(REMOVE_DUPLICATES seen)
  set(${out} "${seen}" PARENT_SCOPE)
endfunction()

# Stops the configure unless DLL is a file, CALL a convention this build knows, and MinGW-w64's
# tools for import libraries are found (ZEBCMD_GENDEF, ZEBCMD_DLLTOOL).
function(zebcli_check_request dll call)
  if(NOT EXISTS "${dll}")
    message(FATAL_ERROR "ZEBCMD_ZEBCLI_DLL: no file ${dll}")
  endif()
  if(call AND NOT call MATCHES "^(cdecl|stdcall)$")
    message(FATAL_ERROR "ZEBCMD_ZEBCLI_CALL must be cdecl or stdcall, not ${call}")
  endif()
  find_program(ZEBCMD_GENDEF gendef DOC "gendef (Debian: mingw-w64-tools)")
  find_program(ZEBCMD_DLLTOOL ${ZEBCMD_MINGW_PREFIX}-dlltool dlltool DOC "dlltool for the target")
  if(NOT ZEBCMD_GENDEF OR NOT ZEBCMD_DLLTOOL)
    message(FATAL_ERROR "Building from a DLL needs gendef and dlltool (Debian: mingw-w64-tools "
                        "and binutils-mingw-w64; scripts/install-deps --windows)")
  endif()
endfunction()

# Stops the configure unless DLL is an x86 DLL of the bitness of the programs this build makes.
function(zebcli_check_bits dll program_bits)
  zebcli_bits("${dll}" dll_bits)
  if(NOT dll_bits)
    message(FATAL_ERROR "${dll}: not an x86 Windows DLL, 32-bit or 64-bit.")
  elseif(NOT dll_bits EQUAL program_bits)
    message(FATAL_ERROR "${dll}: a ${dll_bits}-bit DLL, but this build makes ${program_bits}-bit "
                        "programs, which load only a ${program_bits}-bit ZEBCli.dll. Give the "
                        "vendor's ${program_bits}-bit ZEBCli.dll.")
  endif()
endfunction()

# Sorts the seven functions by how EXPORTS name them. decorated: the stdcall names callers use;
# def_lines: the import library's .def lines, each mapping such a name to what the DLL exports
# where the two differ; underscored: ON where those exports begin with "_"; plain: the names
# exported undecorated; missing: the names not exported at all.
function(zebcli_sort_exports exports program_bits)
  set(plain)
  set(decorated)
  set(def_lines)
  set(missing)
  set(underscored OFF)
  foreach(decorated_name IN LISTS ZEBCLI_FUNCTIONS)
    string(REGEX REPLACE "@.*" "" name "${decorated_name}")
    if(program_bits EQUAL 32 AND decorated_name IN_LIST exports)
      list(APPEND decorated ${decorated_name})
      list(APPEND def_lines ${decorated_name})
    elseif(program_bits EQUAL 32 AND "_${decorated_name}" IN_LIST exports)
      # How a compiler names a __stdcall function exported without a .def file.
      list(APPEND decorated ${decorated_name})
      list(APPEND def_lines "${decorated_name} == _${decorated_name}")
      set(underscored ON)
    elseif(name IN_LIST exports)
      list(APPEND plain ${name})
    else()
      list(APPEND missing ${name})
    endif()
  endforeach()
  return(PROPAGATE plain decorated def_lines missing underscored)
endfunction()

# Stops the configure for a DLL that lacks some of the functions (MISSING), with the exports
# that show a convention with arguments in registers where a 32-bit DLL has them.
function(zebcli_refuse_missing dll program_bits exports missing)
  # Names that show a convention with arguments in registers: "@ZEBC_Init@0" (__fastcall), or
  # a C++ name whose code after "@@" says __fastcall (I) or, for a member function, thiscall (E).
  set(in_registers)
  foreach(name IN LISTS exports)
    if(name MATCHES "^@ZEBC_[A-Za-z_]+@[0-9]+$" OR
       name MATCHES "^\\?ZEBC_[A-Za-z_]+@([^@]+@)?@[A-Z]A?[EI]")
      list(APPEND in_registers "${name}")
    endif()
  endforeach()
  if(missing AND in_registers AND program_bits EQUAL 32)
    list(JOIN in_registers ", " in_registers)
    zebcli_refuse_registers("${dll}" "its functions are exported as ${in_registers}")
  elseif(missing)
    list(JOIN missing ", " missing)
    zebcli_refuse("${dll}" "does not export ${missing}: it is not this server's client library.")
  endif()
endfunction()

# The convention of a 32-bit DLL exporting the PLAIN names, told by gendef from its code unless
# CALL gives it. Sets convention (as configure reports it), names (the .def file's export lines)
# and kill_at (dlltool's option that maps decorated names to plain exports, or empty).
function(zebcli_plain_convention dll call plain)
  zebcli_cleanup("${dll}" "${ZEBCMD_GENDEF}" cleanup)
  if("registers" IN_LIST cleanup)
    zebcli_refuse_registers("${dll}" "its functions take fewer bytes off the stack than "
                                     "their arguments fill (gendef)")
  endif()
  set(detected)
  if(cleanup STREQUAL "callee")
    set(detected stdcall)
  elseif(cleanup STREQUAL "caller")
    set(detected cdecl)
  endif()
  if(NOT call AND NOT detected)
    zebcli_refuse("${dll}" "its calling convention cannot be told from its code. Set "
                           "ZEBCMD_ZEBCLI_CALL=cdecl or stdcall as its vendor documents it.")
  elseif(call AND detected AND NOT call STREQUAL detected)
    message(WARNING "${dll}: its code looks like ${detected}; building for ${call}, as "
                    "ZEBCMD_ZEBCLI_CALL says")
  elseif(NOT call)
    set(call ${detected})
    set(detected_here ON)
  endif()
  set(kill_at)
  if(call STREQUAL "stdcall")
    set(convention "__stdcall, plain names")
    # Callers use the decorated names; the import library maps them to the plain exports.
    set(names ${ZEBCLI_FUNCTIONS})
    set(kill_at --kill-at)
  else()
    set(convention "__cdecl")
    set(names ${plain})
  endif()
  if(NOT detected_here)
    string(APPEND convention " (ZEBCMD_ZEBCLI_CALL)")
  endif()
  return(PROPAGATE convention names kill_at)
endfunction()

# The convention of a DLL whose exports zebcli_sort_exports sorted: sets convention, names and
# kill_at as zebcli_plain_convention does.
function(zebcli_convention dll call program_bits plain decorated def_lines underscored)
  set(kill_at)
  if(program_bits EQUAL 64)
    set(convention "the x64 convention")
    set(names ${plain})
  elseif(decorated AND plain)
    zebcli_refuse("${dll}" "exports some functions with stdcall decorations and some without, "
                           "so their calling convention cannot be told.")
  elseif(decorated)
    if(call STREQUAL "cdecl")
      zebcli_refuse("${dll}" "exports stdcall-decorated names, which contradicts "
                             "ZEBCMD_ZEBCLI_CALL=cdecl.")
    endif()
    set(convention "__stdcall, decorated names")
    if(underscored)
      string(APPEND convention " with a leading underscore")
    endif()
    set(names ${def_lines})
  else()
    zebcli_plain_convention("${dll}" "${call}" "${plain}")
  endif()
  return(PROPAGATE convention names kill_at)
endfunction()

# Makes FOLDER/libZEBCli.dll.a from the .def file's export lines NAMES.
function(zebcli_write_import_library folder names kill_at)
  file(MAKE_DIRECTORY ${folder})
  list(JOIN names "\n" lines)
  # The loader looks for an import by that name beside the program, whatever the vendor's file
  # was called.
  file(WRITE ${folder}/ZEBCli.def "LIBRARY \"ZEBCli.dll\"\nEXPORTS\n${lines}\n")
  zebcli_run(ignored ${ZEBCMD_DLLTOOL} ${kill_at} -d ${folder}/ZEBCli.def
             -l ${folder}/libZEBCli.dll.a)
endfunction()

# Tells what configure found in DLL, and the name it must have when its own differs.
function(zebcli_report dll own_name convention)
  get_filename_component(dll_name "${dll}" NAME)
  list(LENGTH ZEBCLI_FUNCTIONS count)
  message(STATUS "${dll_name}: ${count} functions, ${convention}")
  string(TOLOWER "${dll_name};${own_name}" file_and_own_name)
  if(NOT file_and_own_name STREQUAL "zebcli.dll;zebcli.dll")
    message(STATUS "${dll_name} (export directory: ${own_name}): ZEBCmd.exe imports it as "
                   "ZEBCli.dll, the name it must have beside ZEBCmd.exe")
  endif()
endfunction()

# Defines the imported target ZEBCli::ZEBCli for DLL, and in ZEBCMD_CLIENT_DEFINITIONS the
# calling convention that callers must declare. CALL is "cdecl", "stdcall" or empty (detect).
function(zebcli_import_dll dll call)
  zebcli_check_request("${dll}" "${call}")
  set(program_bits ${ZEBCMD_WINDOWS_BITS})
  zebcli_check_bits("${dll}" ${program_bits})
  zebcli_exports("${dll}" exports own_name)
  zebcli_sort_exports("${exports}" ${program_bits})
  zebcli_refuse_missing("${dll}" ${program_bits} "${exports}" "${missing}")
  zebcli_convention("${dll}" "${call}" ${program_bits} "${plain}" "${decorated}" "${def_lines}"
                    ${underscored})
  set(folder ${CMAKE_BINARY_DIR}/zebcli-import)
  zebcli_write_import_library(${folder} "${names}" "${kill_at}")
  # Reconfigures when the DLL changes, so that the import library follows it.
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${dll}")
  zebcli_report("${dll}" "${own_name}" "${convention}")

  add_library(ZEBCli::ZEBCli SHARED IMPORTED GLOBAL)
  set_target_properties(ZEBCli::ZEBCli PROPERTIES
    IMPORTED_LOCATION "${dll}"
    IMPORTED_IMPLIB "${folder}/libZEBCli.dll.a")
  if(convention MATCHES "__stdcall")
    set(ZEBCMD_CLIENT_DEFINITIONS ZEBC_CALL=__stdcall PARENT_SCOPE)
  else()
    set(ZEBCMD_CLIENT_DEFINITIONS PARENT_SCOPE)
  endif()
endfunction()
