// The secure-protocol choice of a transfer. Its failure is reported through the platform's
// last-error value, so these tests are built for Windows only.
#include "update/transfer_rules.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// The platform's answer to each secure-protocol set, and what was asked. Windows before TLS 1.3
// support refuses the set that names it; Wine accepts any value, so the real call cannot show the
// fallback here.
struct ProtocolSetter {
  std::vector<bool> answers;
  std::vector<std::uint32_t> asked;
  bool operator()(std::uint32_t protocols) {
    asked.push_back(protocols);
    const bool accepted = answers.at(asked.size() - 1);
    if (!accepted) SetLastError(asked.size() == 1 ? ERROR_INVALID_PARAMETER : 12018);
    return accepted;
  }
};

TEST(SecureProtocols, TlsTwelveAndThirteenWhenAccepted) {
  ProtocolSetter setter{{true}, {}};
  EXPECT_TRUE(requireModernTls(std::ref(setter)));
  EXPECT_EQ(setter.asked, (std::vector<std::uint32_t>{0x2800}));
}

TEST(SecureProtocols, TlsTwelveAloneWhenThirteenIsUnknown) {
  ProtocolSetter setter{{false, true}, {}};
  EXPECT_TRUE(requireModernTls(std::ref(setter)));
  EXPECT_EQ(setter.asked, (std::vector<std::uint32_t>{0x2800, 0x800}));
}

TEST(SecureProtocols, FailsWithTheCodeOfTheSecondRefusal) {
  ProtocolSetter setter{{false, false}, {}};
  EXPECT_FALSE(requireModernTls(std::ref(setter)));
  EXPECT_EQ(setter.asked, (std::vector<std::uint32_t>{0x2800, 0x800}));
  EXPECT_EQ(GetLastError(), 12018u);
}

}  // namespace
