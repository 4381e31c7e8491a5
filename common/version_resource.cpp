#include "common/version_resource.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <vector>

std::wstring readVersionString(const std::wstring& path, const std::wstring& name) {
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &unused);
  if (size == 0) return {};  // no file, no version resource, or not a PE file
  std::vector<BYTE> data(size, 0);
  if (!GetFileVersionInfoW(path.c_str(), /* dwHandle */ 0, size, data.data())) return {};

  void* translations = nullptr;
  UINT translationsLength = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &translations,
                      &translationsLength) ||
      translations == nullptr || translationsLength < 4) {
    return {};
  }
  // Only the first translation counts: no other language or code page is tried.
  const WORD* entry = static_cast<const WORD*>(translations);
  const unsigned language = entry[0];
  const unsigned codePage = entry[1];

  wchar_t subBlock[256];
  const int written = std::swprintf(subBlock, 256, L"\\StringFileInfo\\%04x%04x\\%ls", language,
                                    codePage, name.c_str());
  if (written < 0) return {};  // a name too long for the path: no such value

  void* value = nullptr;
  UINT length = 0;  // in characters; counts the terminating NUL that resource compilers add
  if (!VerQueryValueW(data.data(), subBlock, &value, &length) || length == 0 || value == nullptr) {
    return {};
  }
  const wchar_t* text = static_cast<const wchar_t*>(value);
  std::wstring result(text, wcsnlen(text, length));
  while (!result.empty() && std::iswspace(result.back())) result.pop_back();
  return result;
}
