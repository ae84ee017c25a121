# Reads the export and import tables of the built DLL with objdump and fails
# unless the DLL is built for the expected machine, names itself
# NorrvaneShLnk.dll, exports exactly the four COM server entry points under
# their plain names and ordinals 1 to 4, and imports from Windows's own DLLs
# only: a compiler runtime DLL would have to be found beside every process
# that shows a context menu. It must take the Windows folder from the
# system's routine, never the per-user one. Reads the dump of llvm-objdump,
# which reads the files of all three machines.
# usage: cmake -DOBJDUMP=<llvm-objdump> -DDLL=<NorrvaneShLnk.dll> -DMACHINE=<014c|8664|aa64> -P check_dll_image.cmake
cmake_minimum_required(VERSION 3.20)

execute_process(COMMAND "${OBJDUMP}" -p "${DLL}" OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${status}")
endif()
set(failures "")

# A DLL for another machine does not load at all: the machine field follows
# the "PE\0\0" signature, whose offset the DOS header holds at 0x3C.
file(READ "${DLL}" offset OFFSET 60 LIMIT 4 HEX)
string(REGEX REPLACE "^(..)(..)(..)(..)$" "\\4\\3\\2\\1" offset "${offset}")
math(EXPR offset "0x${offset}")
file(READ "${DLL}" signature OFFSET ${offset} LIMIT 6 HEX)
string(REGEX REPLACE "^50450000(..)(..)$" "\\2\\1" machine "${signature}")
string(TOLOWER "${MACHINE}" expected_machine)
if(NOT machine STREQUAL expected_machine)
  string(APPEND failures "machine is 0x${machine} (PE header ${signature}), not 0x${expected_machine}\n")
endif()

# " DLL name: X", " Ordinal base: N", then one line "<ordinal> <address>
# <name>" for each entry of the export address table.
string(FIND "${dump}" "\nExport Table:\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export table")
endif()
string(SUBSTRING "${dump}" ${at} -1 exports)
string(REGEX MATCH "\n DLL name: ([^\n]*)" _ "${exports}")
set(dll_name "${CMAKE_MATCH_1}")
string(REGEX MATCHALL "\n +[0-9]+ +0x[0-9a-fA-F]+[^\n]*" lines "${exports}")
list(LENGTH lines slots)
set(found "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\n +([0-9]+) +0x[0-9a-fA-F]+ +([^ ]+)$")
    list(APPEND found "${CMAKE_MATCH_2}=${CMAKE_MATCH_1}")
  endif()
endforeach()

if(NOT dll_name STREQUAL "NorrvaneShLnk.dll")
  string(APPEND failures "export directory names \"${dll_name}\", not \"NorrvaneShLnk.dll\"\n")
endif()
if(NOT slots MATCHES "^0*4$")
  string(APPEND failures "export address table holds ${slots} entries, not 4\n")
endif()
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

# explorer.exe is started from the system's Windows folder. On a terminal
# server GetWindowsDirectory gives each user a folder of their own, where an
# explorer.exe of the user's making could wait; where the two folders are one
# (Wine) only the import table tells them apart. Lines of the import tables
# read "  <hint>  <name>".
string(FIND "${dump}" "\nThe Import Tables" at)
math(EXPR at "${at} + 1")
string(SUBSTRING "${dump}" ${at} -1 import_tables)
string(REGEX REPLACE "\nExport Table:.*" "" import_tables "${import_tables}")
string(REGEX MATCHALL "\n *[0-9]+ +[A-Za-z0-9_]+" lines "${import_tables}")
set(routines "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE ".* " "" routine "${line}")
  list(APPEND routines "${routine}")
endforeach()
if(NOT "GetSystemWindowsDirectoryW" IN_LIST routines)
  string(APPEND failures "does not import GetSystemWindowsDirectoryW (routines imported: ${routines})\n")
endif()
foreach(routine GetWindowsDirectoryW GetWindowsDirectoryA)
  if(routine IN_LIST routines)
    string(APPEND failures "imports ${routine}, the per-user Windows folder\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${DLL}:\n${failures}")
endif()
message(STATUS "${DLL}: exports ${found}; imports ${imported}")
