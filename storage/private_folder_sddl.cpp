// The private folder descriptor as SDDL text. Kept free of platform headers.
#include "storage/download_folder.h"

std::wstring privateFolderSddl(const std::wstring& sid) {
  // DACL only, protected (nothing inherited from the parent); full access for the system, the
  // administrators and the given user, inherited by files and subfolders.
  return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + L")";
}
