// The built program's embedded resources and image headers, read from the executable file itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/unique_resource.h"
#include "tests/support/test_support.h"

namespace {

struct ModuleTraits {
  using Type = HMODULE;
  static Type none() { return nullptr; }
  static bool valid(Type module) { return module != nullptr; }
  static void close(Type module) { FreeLibrary(module); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

std::wstring programPath() { return testsupport::binDirectory() + L"\\OrvantiDownloader.exe"; }

UniqueModule loadAsData() {
  UniqueModule module(LoadLibraryExW(programPath().c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  EXPECT_TRUE(module.valid()) << GetLastError();
  return module;
}

std::string resourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
  const HRSRC found = FindResourceW(module, name, type);
  if (found == nullptr) return {};
  const HGLOBAL loaded = LoadResource(module, found);
  const auto* data = static_cast<const char*>(LockResource(loaded));
  return std::string(data, SizeofResource(module, found));
}

TEST(ResourcesTest, ManifestDeclaresIdentityControlsDpiLongPathsInvokerAndSystems) {
  const UniqueModule module = loadAsData();
  ASSERT_TRUE(module.valid());
  const std::string manifest = resourceBytes(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_FALSE(manifest.empty()) << "no manifest resource 1";
  for (const char* expected : {
           R"(name="Zarn.Orvanti" version="2.0.0.0")",
           R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")",
           R"(publicKeyToken="6595b64144ccf1df")", ">true</dpiAware>", ">true</longPathAware>",
           R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10
       }) {
    EXPECT_NE(manifest.find(expected), std::string::npos) << expected;
  }
}

TEST(ResourcesTest, IconResource101LoadsAndVersionInfoIsPresent) {
  const UniqueModule module = loadAsData();
  ASSERT_TRUE(module.valid());
  EXPECT_FALSE(resourceBytes(module.get(), MAKEINTRESOURCEW(101), RT_GROUP_ICON).empty());
  const HANDLE icon =
      LoadImageW(module.get(), MAKEINTRESOURCEW(101), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
  EXPECT_NE(icon, nullptr) << GetLastError();
  if (icon != nullptr) DestroyIcon(static_cast<HICON>(icon));

  const std::wstring path = programPath();
  DWORD ignored = 0;
  EXPECT_GT(GetFileVersionInfoSizeW(path.c_str(), &ignored), 0u);
}

// A GUI program (no console window) that needs no runtime library beside it.
TEST(ResourcesTest, WindowsSubsystemAndStaticallyLinked) {
  const std::string image = testsupport::readFile(programPath());
  ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + dos->e_lfanew);
  ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  for (const char* runtime : {"libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll"}) {
    EXPECT_EQ(image.find(runtime), std::string::npos) << runtime;
  }
}

}  // namespace
