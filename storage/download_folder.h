#pragma once

#include <string>

// The run's private folder: %TEMP%\OrvantiDownloader-<GUID>, open only to the system, the
// administrators and the current user. Created on construction, removed on destruction.
class DownloadFolder {
 public:
  DownloadFolder();
  // The folder `name` under the temporary directory, on the same terms (never an existing one).
  explicit DownloadFolder(const std::wstring& name);
  ~DownloadFolder();
  DownloadFolder(const DownloadFolder&) = delete;
  DownloadFolder& operator=(const DownloadFolder&) = delete;

  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// The SID of the user running the process, as text (S-1-...).
std::wstring currentUserSid();

// The protected DACL (system, administrators, the given user; full access, inherited) as SDDL.
std::wstring privateFolderSddl(const std::wstring& sid);

// 32 upper-case hexadecimal digits of a new GUID.
std::string newUniqueId();
