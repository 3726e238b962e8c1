// The reader as a host sees it: libogmdecaps.so loaded with dlopen, its
// entries reached by name and through the table InitializeReader fills.
#ifndef OGMDECAPS_TESTS_HOSTILE_HOST_LIBRARY_H
#define OGMDECAPS_TESTS_HOSTILE_HOST_LIBRARY_H

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <ogmdecaps/ogmdecaps.h>

#include <string>

struct HostLibrary {
  HostLibrary() {
    handle = dlopen(OGMDECAPS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      ADD_FAILURE() << dlerror();
      return;
    }
    auto init =
        reinterpret_cast<ReaderFunctions* (*)(ReaderFunctions*)>(dlsym(handle, "InitializeReader"));
    frameRate = reinterpret_cast<double (*)()>(dlsym(handle, "AVIDecaps_FrameRate"));
    if (init == nullptr || frameRate == nullptr) {
      ADD_FAILURE() << "missing entries";
      return;
    }
    EXPECT_EQ(init(nullptr), nullptr);
    EXPECT_EQ(init(&t), &t);
  }
  // The library stays loaded: the reader state is process-wide anyway.

  // Opens a UTF-8 path or URL; the StreamInfo or nullptr.
  StreamInfo* Open(const std::string& name, int32_t useCache = 0, int32_t openArg = 0) const {
    const std::u16string wide(name.begin(), name.end());
    void* result = nullptr;
    return t.open(wide.c_str(), useCache, openArg, &result) == 1 ? static_cast<StreamInfo*>(result)
                                                                 : nullptr;
  }

  void* handle = nullptr;
  ReaderFunctions t = {};
  double (*frameRate)() = nullptr;
};

#endif
