# What the 64-bit and 32-bit Windows toolchain files share; they set
# CMAKE_SYSTEM_PROCESSOR and OGMDECAPS_WIN_TRIPLET, then include this.
#
# Debian's mingw-w64 compilers with the "posix" thread model, so std::thread
# and std::mutex work. Every program and DLL links the C and C++ runtime
# statically, so the DLLs need nothing beside them but each other.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${OGMDECAPS_WIN_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OGMDECAPS_WIN_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${OGMDECAPS_WIN_TRIPLET}-windres)

# The toolchain file is read again by try_compile projects: hand the prefix on.
if(NOT OGMDECAPS_WIN_DEPS AND DEFINED ENV{OGMDECAPS_WIN_DEPS})
  set(OGMDECAPS_WIN_DEPS "$ENV{OGMDECAPS_WIN_DEPS}")
endif()
set(OGMDECAPS_WIN_DEPS "${OGMDECAPS_WIN_DEPS}" CACHE PATH "Prefix of libogg, Tremor, libcurl and GoogleTest built for mingw")
set(ENV{OGMDECAPS_WIN_DEPS} "${OGMDECAPS_WIN_DEPS}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OGMDECAPS_WIN_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${OGMDECAPS_WIN_TRIPLET} ${OGMDECAPS_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ENV{PKG_CONFIG_LIBDIR} "${OGMDECAPS_WIN_DEPS}/lib/pkgconfig")
unset(ENV{PKG_CONFIG_SYSROOT_DIR})
unset(ENV{PKG_CONFIG_PATH})

foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static")
endforeach()

# wine runs the tests (CTest) and lists them (gtest_discover_tests).
find_program(OGMDECAPS_WINE wine)
if(OGMDECAPS_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OGMDECAPS_WINE})
endif()
