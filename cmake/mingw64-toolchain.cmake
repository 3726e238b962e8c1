# Cross build for 64-bit Windows, tested under wine.
#
#   cmake -S . -B out/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw64-toolchain.cmake \
#         -DOGMDECAPS_WIN_DEPS=/path/to/prefix
#
# Libraries: OGMDECAPS_WIN_DEPS, a prefix holding libogg, Tremor, libcurl
# and GoogleTest built for mingw (scripts/test-windows builds them from
# Debian's source packages into out/win-deps).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(OGMDECAPS_WIN_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
