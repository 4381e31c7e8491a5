#pragma once

#include <string>
#include <vector>

// What can be read back of a folder's access list.
struct FolderAccess {
  std::wstring owner;                  // the owner's SID as text
  std::wstring daclSddl;               // the DACL as SDDL text
  std::vector<std::wstring> admitted;  // the SIDs of its allow entries, as text
};
FolderAccess readFolderAccess(const std::wstring& path);

// Whether the folder admits no one but the system, the administrators and `sid`. Under Wine the
// access list read back is made from the folder's Unix mode bits, not the one given at creation:
// a folder made with the private descriptor admits the system and the owner only, one made
// without it also Everyone.
bool admitsOnlySystemAdministratorsAnd(const std::wstring& path, const std::wstring& sid);

bool runningUnderWine();
