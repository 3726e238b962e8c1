// Dynamic libraries by UTF-16 name. On Windows the name is used as given; on
// POSIX "X.dll" is loaded as "X.so" by bare name, so the dynamic loader's
// search applies: LD_LIBRARY_PATH first, then the RUNPATH of the library
// that asks (ours carries $ORIGIN, so plug-ins beside it are found).
#ifndef OGMDECAPS_PLATFORM_DYNLIB_H
#define OGMDECAPS_PLATFORM_DYNLIB_H

#include <string>

using LibraryHandle = void*;

// The file name the loader is given for a library named name ("X.dll" ->
// "X.so" on POSIX; unchanged elsewhere). Empty for an empty name.
std::string LibraryFileName(const char16_t* name);

// Loads a library; nullptr when it cannot be loaded.
LibraryHandle LoadLibraryByName(const char16_t* name);

// Looks up an exported entry point; nullptr when it is missing.
void* FindLibraryEntry(LibraryHandle library, const char16_t* entryName);

// Unloads a library loaded by LoadLibraryByName; nullptr is ignored.
void UnloadLibrary(LibraryHandle library);

#endif
