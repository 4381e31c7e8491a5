// Shared by the fixture installer and the fixture product: what a started program saw, written
// where an environment variable of the starting process says (the programs are started with
// their parent's environment, so a test can direct them without touching their command line).
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace fixture {

inline std::wstring environmentVariable(const wchar_t* name) {
  std::vector<wchar_t> buffer(32768);
  const DWORD length =
      GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return {};
  return std::wstring(buffer.data(), length);
}

inline std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                      nullptr, nullptr);
  return result;
}

// The user's product folder (%LOCALAPPDATA%\Zarn\Orvanti), made when missing; empty when the
// known folder cannot be had.
inline std::wstring madeProductFolder() {
  PWSTR localAppData = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &localAppData))) return {};
  std::wstring folder = std::wstring(localAppData) + L"\\Zarn";
  CoTaskMemFree(localAppData);
  CreateDirectoryW(folder.c_str(), nullptr);
  folder += L"\\Orvanti";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

inline std::wstring currentDirectory() {
  std::vector<wchar_t> buffer(32768);
  const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  return std::wstring(buffer.data(), length);
}

inline std::wstring modulePath() {
  std::vector<wchar_t> buffer(32768);
  const DWORD length =
      GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  return std::wstring(buffer.data(), length);
}

// The record: the command line exactly as received, a line feed, the working directory, a line
// feed, then any further lines. Both in UTF-8. Nothing is written when the variable is unset.
inline void writeRecord(const wchar_t* variable, const std::string& furtherLines) {
  const std::wstring path = environmentVariable(variable);
  if (path.empty()) return;
  const std::string text =
      utf8(GetCommandLineW()) + "\n" + utf8(currentDirectory()) + "\n" + furtherLines;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) ExitProcess(0xF1F1F1F1);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace fixture
