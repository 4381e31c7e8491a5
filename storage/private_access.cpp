#include "storage/private_access.h"

namespace {

// The SIDs besides the user that may own the folder and be admitted to it: the local system
// account and the built-in administrators.
constexpr wchar_t kSystemSid[] = L"S-1-5-18";
constexpr wchar_t kAdministratorsSid[] = L"S-1-5-32-544";

bool isTrusted(const std::wstring& sid, const std::wstring& userSid) {
  return !sid.empty() && (sid == userSid || sid == kSystemSid || sid == kAdministratorsSid);
}

// Deny entries take access away and never grant it: ACCESS_DENIED_ACE_TYPE (1) and its object
// (6), callback (10) and callback object (12) forms.
bool isDenyEntry(std::uint8_t type) { return type == 1 || type == 6 || type == 10 || type == 12; }

}  // namespace

bool keepsFolderPrivate(const std::wstring& userSid, const std::wstring& ownerSid,
                        const std::optional<std::vector<AccessEntry>>& dacl) {
  // The owner may always rewrite the access list, whatever it says now.
  if (userSid.empty() || !isTrusted(ownerSid, userSid)) return false;
  if (!dacl) return false;
  for (const AccessEntry& entry : *dacl) {
    if (isDenyEntry(entry.type) || entry.mask == 0) continue;
    // Every other entry type is taken as a grant, allow entries and any type not known here.
    // Inheritance flags are not looked at: an inherit-only entry for Everyone or CREATOR OWNER
    // still grants access to the log files made in the folder later. Well-known groups
    // (Everyone, Users, Authenticated Users, CREATOR OWNER) are other SIDs like any other.
    if (!isTrusted(entry.sid, userSid)) return false;
  }
  return true;
}
