# Settings for every Windows build, with mingw-w64 or MSVC: one statically
# linked executable that imports nothing but Windows' own DLLs.
#
# The 32-bit build targets Windows XP SP3 and later, the 64-bit build
# Windows XP x64 / Server 2003 and later. Functions that newer systems add
# are loaded at run time where the program uses them.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(SORBANTILEX_WINNT 0x0502)
  set(SORBANTILEX_SUBSYSTEM_VERSION 5.02)
else()
  set(SORBANTILEX_WINNT 0x0501)
  set(SORBANTILEX_SUBSYSTEM_VERSION 5.01)
endif()
add_compile_definitions(_WIN32_WINNT=${SORBANTILEX_WINNT} WINVER=${SORBANTILEX_WINNT}
                        UNICODE _UNICODE NOMINMAX)

if(MSVC)
  # The static runtime. Current MSVC toolsets themselves require Windows 7 or
  # later; only the mingw-w64 builds reach Windows XP.
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
else()
  string(REPLACE "." ";" subsystem_parts ${SORBANTILEX_SUBSYSTEM_VERSION})
  list(GET subsystem_parts 0 subsystem_major)
  list(GET subsystem_parts 1 subsystem_minor)
  # libgcc, libstdc++ and winpthread go into the executable.
  add_link_options(-static -static-libgcc -static-libstdc++
                   -Wl,--major-subsystem-version,${subsystem_major}
                   -Wl,--minor-subsystem-version,${subsystem_minor}
                   -Wl,--major-os-version,${subsystem_major}
                   -Wl,--minor-os-version,${subsystem_minor}
                   $<$<CONFIG:MinSizeRel,Release>:-s>)
endif()

# GoogleTest from a source tree (Debian's /usr/src/googletest in the cross
# presets; on Windows a checkout given with -DSORBANTILEX_GOOGLETEST_SOURCE=).
set(SORBANTILEX_GOOGLETEST_SOURCE "" CACHE PATH "GoogleTest source tree to build the Windows tests with")
