// The built program's embedded resources and image headers, read from the executable file itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "build_constants.h"
#include "common/text.h"
#include "common/unique_resource.h"
#include "common/version_resource.h"
#include "tests/support/fixture_programs.h"
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

// The names of the DLLs in an image's import directory (its static imports), lowered.
std::vector<std::string> staticImports(const std::string& image) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + dos->e_lfanew);
  const auto* sections = IMAGE_FIRST_SECTION(nt);
  // The file offset of a relative virtual address.
  const auto at = [&](DWORD rva) -> const char* {
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
      const IMAGE_SECTION_HEADER& section = sections[i];
      if (rva >= section.VirtualAddress &&
          rva <
              section.VirtualAddress + std::max(section.Misc.VirtualSize, section.SizeOfRawData)) {
        const size_t offset = rva - section.VirtualAddress + section.PointerToRawData;
        return offset < image.size() ? image.data() + offset : nullptr;
      }
    }
    return nullptr;
  };
  std::vector<std::string> names;
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  const auto* descriptor =
      reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(directory.VirtualAddress));
  for (; descriptor != nullptr && descriptor->Name != 0; ++descriptor) {
    const char* name = at(descriptor->Name);
    if (name == nullptr) break;
    std::string lowered(name);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    names.push_back(lowered);
  }
  return names;
}

const IMAGE_NT_HEADERS64* ntHeaders(const std::string& image) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  return reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + dos->e_lfanew);
}

// Windows' KnownDLLs: the values of the registry key
//   HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs
// of Windows 10 (22H2) and Windows 11, without the WOW64 and emulation layers. The loader maps
// these from the system folder only, whatever lies beside the program.
const std::set<std::string> kKnownDlls = {
    "advapi32.dll", "clbcatq.dll",  "combase.dll",  "comdlg32.dll", "coml2.dll",    "difxapi.dll",
    "gdi32.dll",    "gdiplus.dll",  "imagehlp.dll", "imm32.dll",    "kernel32.dll", "msctf.dll",
    "msvcrt.dll",   "normaliz.dll", "nsi.dll",      "ole32.dll",    "oleaut32.dll", "psapi.dll",
    "rpcrt4.dll",   "sechost.dll",  "setupapi.dll", "shcore.dll",   "shell32.dll",  "shlwapi.dll",
    "user32.dll",   "wldap32.dll",  "ws2_32.dll",
};

// Every program that users or publishers run: only KnownDLLs imported statically (the rest is
// late-bound from the system folder), no MinGW runtime DLL, and ASLR with 64-bit entropy and DEP.
TEST(ResourcesTest, ProgramsImportOnlyKnownDllsAndAskForAslrAndDep) {
  struct Program {
    std::wstring path;
    std::set<std::string> alsoAllowed;
  };
  const Program programs[] = {
      // comctl32 is taken from the side-by-side store by the manifest's dependency on version 6
      // (ManifestDeclaresIdentityControlsDpiLongPathsInvokerAndSystems), never from the folder.
      {programPath(), {"comctl32.dll"}},
      {testsupport::binDirectory() + L"\\OrvantiVerify.exe", {}},
      {testsupport::fixtureProgram(L"sample-setup-1.0.0.0"), {}},
      {testsupport::fixtureProgram(L"sample-product-1.0.0.0"), {}},
  };
  for (const Program& program : programs) {
    SCOPED_TRACE(toUtf8(program.path));
    const std::string image = testsupport::readFile(program.path);
    ASSERT_GT(image.size(), 4096u);
    const std::vector<std::string> imports = staticImports(image);
    EXPECT_FALSE(imports.empty());
    for (const std::string& name : imports) {
      EXPECT_TRUE(kKnownDlls.count(name) == 1 || program.alsoAllowed.count(name) == 1)
          << name << " is imported statically: it would be looked for beside the program first";
      for (const char* runtime : {"libgcc_s", "libstdc++", "libwinpthread", "libssp"}) {
        EXPECT_NE(name.rfind(runtime, 0), 0u) << "MinGW runtime DLL " << name;
      }
    }
    const WORD flags = ntHeaders(image)->OptionalHeader.DllCharacteristics;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) << std::hex << flags;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA) << std::hex << flags;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) << std::hex << flags;
  }
}

// A development build says so: its version resource is marked as a private build and names the
// update service and the publisher that it trusts. (A release build carries neither: see
// tests/build/configure_checks.cmake.)
TEST(ResourcesTest, DevelopmentBuildIsMarkedAsPrivateBuildNamingItsServiceAndPublisher) {
  const std::wstring path = programPath();
  DWORD ignored = 0;
  std::vector<BYTE> data(GetFileVersionInfoSizeW(path.c_str(), &ignored));
  ASSERT_FALSE(data.empty()) << GetLastError();
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
  void* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", &fixed, &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  EXPECT_EQ(info->dwFileFlags & info->dwFileFlagsMask, static_cast<DWORD>(VS_FF_PRIVATEBUILD));

  EXPECT_EQ(toUtf8(readVersionString(path, L"PrivateBuild")),
            std::string("Development build for the update service ") + kUpdateServerUrl +
                " and the publisher certificate " + kPinnedSignerThumbprint);
  EXPECT_EQ(readVersionString(path, L"SpecialBuild"), L"");
}

}  // namespace
