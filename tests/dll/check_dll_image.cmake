# Reads the export and import tables of the built DLL with objdump and fails
# unless the DLL names itself NorrvaneShLnk.dll, exports exactly the four COM
# server entry points under their plain names and ordinals 1 to 4, and
# imports from Windows's own DLLs only: a compiler runtime DLL would have to
# be found beside every process that shows a context menu.
# usage: cmake -DOBJDUMP=<objdump> -DDLL=<NorrvaneShLnk.dll> -P check_dll_image.cmake
cmake_minimum_required(VERSION 3.20)

execute_process(COMMAND "${OBJDUMP}" -p "${DLL}" OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${status}")
endif()
set(failures "")

string(FIND "${dump}" "The Export Tables" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export table")
endif()
string(SUBSTRING "${dump}" ${at} -1 exports)

string(REGEX MATCH "\nName[ \t]+[0-9a-fA-F]+ ([^\n]*)" _ "${exports}")
if(NOT CMAKE_MATCH_1 STREQUAL "NorrvaneShLnk.dll")
  string(APPEND failures "export directory names \"${CMAKE_MATCH_1}\", not \"NorrvaneShLnk.dll\"\n")
endif()

string(REGEX MATCH "Ordinal Base[ \t]+([0-9]+)" _ "${exports}")
set(base "${CMAKE_MATCH_1}")
string(REGEX MATCH "Export Address Table[ \t]+([0-9a-fA-F]+)\n" _ "${exports}")
set(slots "${CMAKE_MATCH_1}")
if(NOT slots MATCHES "^0*4$")
  string(APPEND failures "export address table holds ${slots} entries, not 4\n")
endif()

# Lines "[  i] Name" (index = ordinal - base), or "[  i] +base[  n] Name" in
# newer objdump versions; the name is the last word.
string(FIND "${exports}" "[Ordinal/Name Pointer] Table" at)
string(SUBSTRING "${exports}" ${at} -1 names)
string(REGEX REPLACE "\n\n.*" "" names "${names}")
string(REGEX MATCHALL "\t\\[ *[0-9]+\\][^\n]*" lines "${names}")
set(found "")
foreach(line IN LISTS lines)
  if(line MATCHES "\\+base\\[ *([0-9]+)\\].* ([^ ]+)$")
    set(ordinal ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
  elseif(line MATCHES "\\[ *([0-9]+)\\].* ([^ ]+)$")
    math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
    set(name ${CMAKE_MATCH_2})
  endif()
  list(APPEND found "${name}=${ordinal}")
endforeach()
list(SORT found)
set(expected DllCanUnloadNow=1 DllGetClassObject=2 DllRegisterServer=3 DllUnregisterServer=4)
if(NOT found STREQUAL expected)
  string(APPEND failures "exports are \"${found}\", not \"${expected}\"\n")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(system_dlls kernel32 user32 advapi32 shell32 ole32 oleaut32 msvcrt shlwapi)
set(imported "")
foreach(import IN LISTS imports)
  string(REGEX REPLACE "^DLL Name: (.*)\\.[dD][lL][lL]$" "\\1" import "${import}")
  string(TOLOWER "${import}" lower)
  list(APPEND imported "${import}")
  if(NOT lower IN_LIST system_dlls AND NOT lower MATCHES "^api-ms-win-crt-")
    string(APPEND failures "imports ${import}.dll, which is not a Windows system DLL\n")
  endif()
endforeach()
if(NOT imported)
  string(APPEND failures "no imports found: the dump was not read as expected\n")
endif()

if(failures)
  message(FATAL_ERROR "${DLL}:\n${failures}")
endif()
message(STATUS "${DLL}: exports ${found}; imports ${imported}")
