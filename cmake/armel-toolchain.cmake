# Cross build for Debian armel: 32-bit ARM, EABI, soft float (armv5te, the
# compiler's default), the class of device the reader was first written for.
#
#   cmake -S . -B out/armel -DCMAKE_TOOLCHAIN_FILE=cmake/armel-toolchain.cmake \
#         -DOGMDECAPS_ARMEL_ROOT=/path/to/root
#
# Compilers: Debian's g++-arm-linux-gnueabi (its C and C++ runtime for
# linking lies under /usr/arm-linux-gnueabi). Libraries: OGMDECAPS_ARMEL_ROOT,
# an armel system root, i.e. a folder into which Debian's armel packages of
# libogg, Tremor, libcurl, libvorbis, GoogleTest and the C/C++ runtime
# (libc6, libstdc++6 ...) were unpacked (scripts/test-armel makes one), or "/"
# when they were installed as armel packages with apt.
#
# Test and discovery commands run under qemu-arm with that root as the
# emulated program's "/" for the files it does not find in the real one: its
# dynamic loader, libraries and iconv modules come from there.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabi)

set(OGMDECAPS_ARMEL_TRIPLET arm-linux-gnueabi)
set(CMAKE_C_COMPILER ${OGMDECAPS_ARMEL_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${OGMDECAPS_ARMEL_TRIPLET}-g++)
set(OGMDECAPS_ARMEL_RUNTIME /usr/${OGMDECAPS_ARMEL_TRIPLET})

# The toolchain file is read again by try_compile projects: hand the root on.
if(NOT OGMDECAPS_ARMEL_ROOT AND DEFINED ENV{OGMDECAPS_ARMEL_ROOT})
  set(OGMDECAPS_ARMEL_ROOT "$ENV{OGMDECAPS_ARMEL_ROOT}")
endif()
if(NOT OGMDECAPS_ARMEL_ROOT)
  set(OGMDECAPS_ARMEL_ROOT /)
endif()
set(OGMDECAPS_ARMEL_ROOT "${OGMDECAPS_ARMEL_ROOT}" CACHE PATH "armel system root: unpacked armel packages, or / for multiarch installs")
set(ENV{OGMDECAPS_ARMEL_ROOT} "${OGMDECAPS_ARMEL_ROOT}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OGMDECAPS_ARMEL_ROOT)

string(REGEX REPLACE "/+$" "" _armel_root "${OGMDECAPS_ARMEL_ROOT}")
set(_armel_libdirs
  ${_armel_root}/usr/lib/${OGMDECAPS_ARMEL_TRIPLET}
  ${_armel_root}/lib/${OGMDECAPS_ARMEL_TRIPLET})

set(CMAKE_FIND_ROOT_PATH ${OGMDECAPS_ARMEL_RUNTIME})
if(_armel_root)
  list(APPEND CMAKE_FIND_ROOT_PATH ${_armel_root})
else()
  list(APPEND CMAKE_FIND_ROOT_PATH /)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config: only the armel .pc files, their paths moved under the root.
set(ENV{PKG_CONFIG_LIBDIR} "${_armel_root}/usr/lib/${OGMDECAPS_ARMEL_TRIPLET}/pkgconfig:${_armel_root}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${_armel_root}")
unset(ENV{PKG_CONFIG_PATH})

# Shared libraries such as libcurl pull in others (libssl, libz ...) that the
# linker must find to check the link.
string(REPLACE ";" ":" _armel_rpath_link "${_armel_libdirs}")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_armel_rpath_link}")
endforeach()

# armv5te has no 64-bit atomic instructions: GCC calls libatomic for
# std::atomic<int64_t> and the like.
set(CMAKE_C_STANDARD_LIBRARIES "-Wl,--push-state,--as-needed -latomic -Wl,--pop-state")
set(CMAKE_CXX_STANDARD_LIBRARIES "${CMAKE_C_STANDARD_LIBRARIES}")

# GCC notes every function whose argument passing changed in GCC 7.1 on ARM;
# nothing here mixes code from compilers that old.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")

# qemu-arm runs the tests (CTest) and lists them (gtest_discover_tests).
find_program(OGMDECAPS_QEMU_ARM qemu-arm)
if(OGMDECAPS_QEMU_ARM)
  if(_armel_root)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${OGMDECAPS_QEMU_ARM} -L ${_armel_root})
  else()
    set(CMAKE_CROSSCOMPILING_EMULATOR ${OGMDECAPS_QEMU_ARM})
  endif()
endif()
