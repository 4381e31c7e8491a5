#pragma once

// Whether a folder's owner and access list keep it to one user, the system and the
// administrators. Kept free of platform headers: the platform call that reads them is
// heldFolderIsPrivate (private_folder.h).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One entry of an access list as the platform reports it: the entry type (ACE_HEADER::AceType),
// the SID it names as text (empty when it could not be read) and its access mask.
struct AccessEntry {
  std::uint8_t type = 0;
  std::wstring sid;
  std::uint32_t mask = 0;
};

// True when `ownerSid` is the user, the system or the administrators, and no entry of `dacl`
// grants anything to anyone else. No access list at all (std::nullopt, a NULL DACL) grants
// everyone everything.
bool keepsFolderPrivate(const std::wstring& userSid, const std::wstring& ownerSid,
                        const std::optional<std::vector<AccessEntry>>& dacl);
