# What a mingw-w64 runtime would give an ARM64 build, and Debian does not:
# import libraries of the Windows system DLLs, made from the export lists
# here (the routines that this build calls, and no others), the interface
# GUIDs, and the one routine the compiler calls that no system DLL exports
# to us (__chkstk). Included from the top folder, before any target.
enable_language(ASM)

set(NORRVANE_IMPORT_LIBRARY_DIR "${CMAKE_BINARY_DIR}/import-libraries")
file(MAKE_DIRECTORY "${NORRVANE_IMPORT_LIBRARY_DIR}")
file(GLOB export_lists "${CMAKE_CURRENT_LIST_DIR}/*.def")
foreach(def IN LISTS export_lists)
  get_filename_component(dll "${def}" NAME_WE)
  set(library "${NORRVANE_IMPORT_LIBRARY_DIR}/lib${dll}.a")
  execute_process(COMMAND llvm-dlltool-19 -m arm64 -d "${def}" -l "${library}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "llvm-dlltool-19 failed on ${def}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${def}")
  add_library(${dll} STATIC IMPORTED GLOBAL)
  set_target_properties(${dll} PROPERTIES IMPORTED_LOCATION "${library}")
endforeach()
# Named on every build's link line; neither the DLL nor the test program calls it.
add_library(oleaut32 INTERFACE IMPORTED GLOBAL)

add_library(uuid STATIC "${CMAKE_CURRENT_LIST_DIR}/interface_ids.c")
add_library(norrvane_compiler_routines STATIC "${CMAKE_CURRENT_LIST_DIR}/chkstk.S")

# In place of the platform's default libraries (which add gdi32, winspool and
# comdlg32): what a C runtime would bring to every program and DLL.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")
link_libraries(norrvane_compiler_routines kernel32 msvcrt)
