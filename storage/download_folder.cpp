#include "storage/download_folder.h"

#include <windows.h>
#include <objbase.h>
#include <sddl.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "common/text.h"
#include "common/unique_resource.h"
#include "common/user_error.h"
#include "storage/private_folder.h"

namespace {

constexpr wchar_t kFolderPrefix[] = L"OrvantiDownloader-";
constexpr wchar_t kInstallerName[] = L"OrvantiSetup.exe";

}  // namespace

DownloadFolder::DownloadFolder() : DownloadFolder(kFolderPrefix + toUtf16(newUniqueId())) {}

DownloadFolder::DownloadFolder(const std::wstring& name) {
  const std::wstring path = (std::filesystem::temp_directory_path() / name).wstring();
  const std::wstring sid = currentUserSid();
  // An existing folder of this name is not ours: creation fails rather than reusing it.
  ensure(createPrivateDirectory(path, sid, "保存先のアクセス権を設定できません。"),
         "ダウンロード用フォルダを作成できません。");
  path_ = path;
}

DownloadFolder::~DownloadFolder() {
  if (path_.empty()) return;
  try {
    // Both results are ignored: the installer may never have been written, and a folder that
    // still holds anything else (or a locked installer) stays where it is.
    DeleteFileW((path_ + L"\\" + kInstallerName).c_str());
    RemoveDirectoryW(path_.c_str());
  } catch (...) {
    // Only the path's allocation can fail here; removal is never reported.
  }
  path_.clear();
}

std::wstring currentUserSid() {
  UniqueHandle token;
  ensure(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()),
         "ユーザー情報を取得できません");
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);  // learns the size only
  std::vector<unsigned char> buffer(size);
  ensure(GetTokenInformation(token.get(), TokenUser, buffer.empty() ? nullptr : buffer.data(), size,
                             &size),
         "ユーザー情報が不正です");
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  UniqueLocalMemory<LPWSTR> text;
  ensure(ConvertSidToStringSidW(user->User.Sid, text.put()), "ユーザーSIDが不正です");
  return std::wstring(text.get());
}

std::string newUniqueId() {
  GUID guid{};
  ensure(SUCCEEDED(CoCreateGuid(&guid)), "Window identity unavailable");
  wchar_t buffer[40] = {};
  StringFromGUID2(guid, buffer, 40);
  std::string text = toUtf8(buffer);
  std::erase_if(text, [](char c) { return c == '{' || c == '}' || c == '-'; });
  return text;
}
