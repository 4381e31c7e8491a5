// The owner and access-list judgement of the per-user log folder, as a table. Wine does not keep
// an access list as given (it stores Unix mode bits and reads back SYSTEM, the owner and, for
// other users' bits, Everyone), and it reads back any foreign owner as Anonymous: deny entries,
// well-known groups, inherit-only and unknown entry types, masks, NULL access lists and the
// administrators as owner can only be shown here, through the decision alone. The event-log tests
// show what Wine can: a folder readable by others and a folder of another Unix user.
#include "storage/private_access.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint8_t kAllow = 0;          // ACCESS_ALLOWED_ACE_TYPE
constexpr std::uint8_t kDeny = 1;           // ACCESS_DENIED_ACE_TYPE
constexpr std::uint8_t kAllowObject = 5;    // ACCESS_ALLOWED_OBJECT_ACE_TYPE
constexpr std::uint8_t kDenyObject = 6;     // ACCESS_DENIED_OBJECT_ACE_TYPE
constexpr std::uint8_t kAllowCallback = 9;  // ACCESS_ALLOWED_CALLBACK_ACE_TYPE
constexpr std::uint8_t kDenyCallback = 10;  // ACCESS_DENIED_CALLBACK_ACE_TYPE
constexpr std::uint8_t kUnknownType = 0x42;
constexpr std::uint32_t kFullAccess = 0x1F01FF;  // FA
constexpr std::uint32_t kReadOnly = 0x1200A9;    // FR

const std::wstring kUser = L"S-1-5-21-1-2-3-1001";
const std::wstring kOtherUser = L"S-1-5-21-1-2-3-1002";
const std::wstring kSystem = L"S-1-5-18";
const std::wstring kAdministrators = L"S-1-5-32-544";

// The access list of a folder created with the private descriptor.
std::vector<AccessEntry> privateEntries() {
  return {{kAllow, kSystem, kFullAccess},
          {kAllow, kAdministrators, kFullAccess},
          {kAllow, kUser, kFullAccess}};
}

std::vector<AccessEntry> privateEntriesAnd(AccessEntry extra) {
  std::vector<AccessEntry> entries = privateEntries();
  entries.push_back(std::move(extra));
  return entries;
}

TEST(PrivateAccessTest, OnlyTheUserTheSystemAndTheAdministratorsMayOwnOrBeAdmitted) {
  struct Case {
    const char* name;
    std::wstring owner;
    std::optional<std::vector<AccessEntry>> dacl;
    bool isPrivate;
  };
  const std::vector<Case> cases = {
      {"created with the private descriptor", kUser, privateEntries(), true},
      {"owned by the system", kSystem, privateEntries(), true},
      {"owned by the administrators", kAdministrators, privateEntries(), true},
      {"what Wine reads back of the private folder", kUser,
       std::vector<AccessEntry>{{kAllow, kSystem, kFullAccess}, {kAllow, kUser, kFullAccess}},
       true},
      {"the user alone", kUser, std::vector<AccessEntry>{{kAllow, kUser, kFullAccess}}, true},
      {"an empty access list admits nobody", kUser, std::vector<AccessEntry>{}, true},
      {"owned by another user", kOtherUser, privateEntries(), false},
      {"owned by Everyone", L"S-1-1-0", privateEntries(), false},
      {"owner unreadable", L"", privateEntries(), false},
      {"NULL access list admits everyone", kUser, std::nullopt, false},
      {"another user admitted", kUser, privateEntriesAnd({kAllow, kOtherUser, kFullAccess}), false},
      {"another user may only read", kUser, privateEntriesAnd({kAllow, kOtherUser, kReadOnly}),
       false},
      {"another user may only synchronise", kUser,
       privateEntriesAnd({kAllow, kOtherUser, 0x100000}), false},
      {"Everyone", kUser, privateEntriesAnd({kAllow, L"S-1-1-0", kReadOnly}), false},
      {"Users", kUser, privateEntriesAnd({kAllow, L"S-1-5-32-545", kReadOnly}), false},
      {"Authenticated Users", kUser, privateEntriesAnd({kAllow, L"S-1-5-11", kReadOnly}), false},
      {"CREATOR OWNER (inherit-only, reaches the files made later)", kUser,
       privateEntriesAnd({kAllow, L"S-1-3-0", kFullAccess}), false},
      {"an allow callback entry for another user", kUser,
       privateEntriesAnd({kAllowCallback, kOtherUser, kReadOnly}), false},
      {"an allow object entry whose SID was not read", kUser,
       privateEntriesAnd({kAllowObject, L"", kReadOnly}), false},
      {"an entry type not known here", kUser,
       privateEntriesAnd({kUnknownType, kOtherUser, kReadOnly}), false},
      {"an entry for the user's SID under another spelling is not the user", kUser,
       privateEntriesAnd({kAllow, L"s-1-5-21-1-2-3-1001x", kReadOnly}), false},
      {"a deny entry for Everyone is harmless", kUser,
       privateEntriesAnd({kDeny, L"S-1-1-0", kFullAccess}), true},
      {"deny object and callback entries are harmless", kUser,
       std::vector<AccessEntry>{{kDenyObject, L"", kFullAccess},
                                {kDenyCallback, kOtherUser, kFullAccess},
                                {kAllow, kUser, kFullAccess}},
       true},
      {"a deny entry before an allow entry for another user still admits them", kUser,
       std::vector<AccessEntry>{{kDeny, kOtherUser, kReadOnly},
                                {kAllow, kOtherUser, kFullAccess},
                                {kAllow, kUser, kFullAccess}},
       false},
      {"an allow entry with no access grants nothing", kUser,
       privateEntriesAnd({kAllow, L"S-1-1-0", 0}), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(keepsFolderPrivate(kUser, c.owner, c.dacl), c.isPrivate);
  }
  SCOPED_TRACE("no user SID");
  EXPECT_FALSE(keepsFolderPrivate(L"", L"", std::vector<AccessEntry>{{kAllow, L"", kFullAccess}}));
}

}  // namespace
