#include "update/url_policy.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(UrlPolicy, PlainHttpOnlyToThisMachineByItsExactName) {
  struct Case {
    UrlScheme scheme;
    const wchar_t* host;
    bool allowed;
  };
  const Case cases[] = {
      {UrlScheme::Https, L"updates.example.com", true},
      {UrlScheme::Https, L"LOCALHOST", true},
      {UrlScheme::Http, L"127.0.0.1", true},
      {UrlScheme::Http, L"localhost", true},
      {UrlScheme::Http, L"LOCALHOST", false},
      {UrlScheme::Http, L"Localhost", false},
      {UrlScheme::Http, L"localhost.", false},
      {UrlScheme::Http, L"localhost.example.com", false},
      {UrlScheme::Http, L"127.0.0.2", false},
      {UrlScheme::Http, L"127.0.0.1.example.com", false},
      {UrlScheme::Http, L"[::1]", false},
      {UrlScheme::Http, L"updates.example.com", false},
      {UrlScheme::Http, L"", false},
      {UrlScheme::Other, L"127.0.0.1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.scheme) << " " << std::wstring(c.host));
    EXPECT_EQ(isAllowedTransport(c.scheme, c.host), c.allowed);
  }
}

TEST(UrlPolicy, AUserNameOrAPasswordIsRefused) {
  EXPECT_FALSE(carriesCredentials(0, 0));
  EXPECT_TRUE(carriesCredentials(4, 0));
  EXPECT_TRUE(carriesCredentials(0, 6));
  EXPECT_TRUE(carriesCredentials(4, 6));
}

TEST(UrlPolicy, ObjectNameIsPathAndQueryOrTheRoot) {
  EXPECT_EQ(objectName(L"", L""), L"/");
  EXPECT_EQ(objectName(L"/a/b", L""), L"/a/b");
  EXPECT_EQ(objectName(L"/a/b", L"?x=1&y=2"), L"/a/b?x=1&y=2");
  EXPECT_EQ(objectName(L"", L"?x=1"), L"?x=1");
}

}  // namespace
