# Cross build for 32-bit Windows (i686), tested under wine's 32-bit loader:
# the reader's interface is a 32-bit one (slot table, StreamInfo offsets),
# checked here on the platform it was made for.
#
#   cmake -S . -B out/windows32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32-toolchain.cmake \
#         -DOGMDECAPS_WIN_DEPS=/path/to/prefix
#
# Libraries: as for 64-bit, built for i686 (scripts/test-windows --32 builds
# them into out/win32-deps).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(OGMDECAPS_WIN_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
