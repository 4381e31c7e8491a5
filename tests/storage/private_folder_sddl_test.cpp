// The private folder's descriptor text. Platform-free: also built natively (that the platform
// parses it is tested in download_folder_test.cpp).
#include <gtest/gtest.h>

#include <string>

#include "storage/download_folder.h"

namespace {

TEST(DownloadFolderTest, SddlAdmitsSystemAdministratorsAndTheUserOnly) {
  const std::wstring prefix = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;";
  EXPECT_EQ(prefix.size(), 48u);
  EXPECT_EQ(privateFolderSddl(L"S-1-5-18"), prefix + L"S-1-5-18)");
}

}  // namespace
