# The settings of the DLLs that run inside other people's processes: the
# shell extension (Explorer, every program with a file dialog) and the
# installer's custom action DLL (Windows Installer).

# Their own sources: warnings, no exceptions or RTTI (nothing may be thrown
# out of a COM method or an installer action), and no build folder in what
# the compiler writes.
function(norrvane_own_sources target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /GR- /EHs-c- /Brepro)
    if(NORRVANE_WARNINGS_AS_ERRORS)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -fno-exceptions -fno-rtti
                           -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
    if(NORRVANE_WARNINGS_AS_ERRORS)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()

# The DLL itself, <target>.dll in the top of the build folder. It must load
# in any process, so it brings its runtime with it or needs none, and the
# same sources give the same bytes: no link time stamp.
function(norrvane_loadable_dll target)
  norrvane_own_sources(${target})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${target}
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}" LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")
  if(MSVC)
    target_link_options(${target} PRIVATE /Brepro)
  elseif(NORRVANE_NO_C_RUNTIME)
    # No C runtime starts the DLL: the loader calls DllMain itself. LLD
    # leaves the header's checksum empty unless told (-release); signing
    # fills it in, and a signed DLL without its signature must be this one.
    target_link_options(${target} PRIVATE -s -Wl,--no-insert-timestamp -Wl,--entry,DllMain -Wl,-Xlink=-release)
  else()
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++ -s -Wl,--no-insert-timestamp)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # The .def names the exports undecorated; i686 __stdcall would add @N.
      target_link_options(${target} PRIVATE -Wl,--kill-at -Wl,--enable-stdcall-fixup)
    endif()
  endif()
endfunction()
