// Libraries by UTF-16 name: "X.dll" is the platform's "X.so" on POSIX and
// used as given on Windows.
#include "platform/dynlib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

#ifdef _WIN32
const char kPluginFile[] = "Ravel.dll";
const char kOtherPluginFile[] = "RavelHTTP.DLL";
#else
const char kPluginFile[] = "Ravel.so";
const char kOtherPluginFile[] = "RavelHTTP.so";
#endif

TEST(DynlibTest, DllNamesMapToSharedObjects) {
  EXPECT_EQ(LibraryFileName(u"Ravel.dll"), kPluginFile);
  EXPECT_EQ(LibraryFileName(u"RavelHTTP.DLL"), kOtherPluginFile);
  EXPECT_EQ(LibraryFileName(u"plain"), "plain");
  EXPECT_EQ(LibraryFileName(u""), "");
}

TEST(DynlibTest, LoadsFindsAndUnloads) {
  // A path is used as given (a bare name would go through the loader's
  // search, which the reader tests exercise).
  const std::string path = std::string(PLUGIN_DIR) + "/" + kPluginFile;
  LibraryHandle lib = LoadLibraryByName(std::u16string(path.begin(), path.end()).c_str());
  ASSERT_NE(lib, nullptr);
  EXPECT_NE(FindLibraryEntry(lib, u"RavelRead"), nullptr);
  EXPECT_EQ(FindLibraryEntry(lib, u"NoSuchEntry"), nullptr);
  UnloadLibrary(lib);
  EXPECT_EQ(LoadLibraryByName(u"NoSuchPlugin.dll"), nullptr);
  EXPECT_EQ(FindLibraryEntry(nullptr, u"RavelRead"), nullptr);
  UnloadLibrary(nullptr);
}

}  // namespace
