#include "storage/download_folder.h"

#include "common/not_available.h"

DownloadFolder::DownloadFolder() { notAvailable("DownloadFolder"); }

DownloadFolder::~DownloadFolder() = default;

std::wstring currentUserSid() { notAvailable("currentUserSid"); }

std::wstring privateFolderSddl(const std::wstring&) { notAvailable("privateFolderSddl"); }

std::string newUniqueId() { notAvailable("newUniqueId"); }
