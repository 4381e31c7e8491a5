#include "update/release_info.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/user_error_text.h"

namespace {

using testsupport::userErrorMessage;

const char* const kNotAvailable = "Orvantiのインストーラは現在配布されていません。";
const char* const kOtherProduct = "別製品の配布情報は使用できません。";
const char* const kBadVersionText = "配布バージョンが不正です。";
const char* const kInvalidVersion = "Invalid version";
const char* const kBadDigest = "配布ファイルのハッシュ情報が不正です。";
const char* const kBadSize = "配布サイズが不正です。";
const char* const kSizeOutOfRange = "配布サイズが上限を超えています。";
const char* const kBadPath = "許可されていないダウンロード先です。";

const std::string kLowerDigest = std::string(64, 'a').replace(0, 16, "0123456789abcdef");
const std::string kUpperDigest = std::string(64, 'F').replace(0, 16, "0123456789ABCDEF");

// A manifest that passes every rule, as the service would send it.
ReleaseInfo validManifest() {
  return ReleaseInfo::parse(R"({"available": true, "product": "Orvanti", "latestVersion": "0.0.0.0",
    "sha256": ")" + kLowerDigest +
                            R"(", "sizeBytes": 1,
    "downloadPath": "/tov/v2/client/client-updates/orvanti/download"})");
}

// A member replaced by a JSON text (read by the real parser, so 1e3 stays a floating-point
// number), or removed when there is no text.
using Change = std::pair<std::string, std::optional<std::string>>;

ReleaseInfo changedManifest(const std::vector<Change>& changes) {
  ReleaseInfo manifest = validManifest();
  for (const auto& [key, text] : changes) {
    if (text)
      manifest[key] = ReleaseInfo::parse(*text);
    else
      manifest.erase(key);
  }
  return manifest;
}

std::string quoted(const std::string& text) { return '"' + text + '"'; }

struct AcceptedCase {
  const char* name;
  std::vector<Change> changes;
  friend void PrintTo(const AcceptedCase& c, std::ostream* os) { *os << c.name; }
};

class AcceptedManifest : public testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedManifest, Passes) {
  const ReleaseInfo manifest = changedManifest(GetParam().changes);
  EXPECT_NO_THROW(validateReleaseInfo(manifest)) << manifest.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Rules, AcceptedManifest,
    testing::Values(
        AcceptedCase{"Baseline", {}}, AcceptedCase{"LargestSize", {{"sizeBytes", "268435456"}}},
        AcceptedCase{"UpperCaseDigest", {{"sha256", quoted(kUpperDigest)}}},
        AcceptedCase{"MixedCaseDigest", {{"sha256", quoted("aB" + std::string(62, 'c'))}}},
        AcceptedCase{"HighestVersion", {{"latestVersion", R"("65535.65535.65535.65535")"}}},
        AcceptedCase{"VersionWithLeadingZeros", {{"latestVersion", R"("01.002.0003.00004")"}}},
        AcceptedCase{"UnknownKeysIgnored",
                     {{"notes", R"({"text": "x"})"}, {"Available", "false"}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
  const char* name;
  std::vector<Change> changes;
  const char* message;
  friend void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }
};

class RefusedManifest : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedManifest, FailsWithTheMessageOfTheFirstBrokenRule) {
  const ReleaseInfo manifest = changedManifest(GetParam().changes);
  EXPECT_EQ(userErrorMessage([&] { validateReleaseInfo(manifest); }), GetParam().message)
      << manifest.dump();
}

const char* const kPath = "/tov/v2/client/client-updates/orvanti/download";

INSTANTIATE_TEST_SUITE_P(
    OneRuleBroken, RefusedManifest,
    testing::Values(
        RefusedCase{"AvailableFalse", {{"available", "false"}}, kNotAvailable},
        RefusedCase{"AvailableMissing", {{"available", std::nullopt}}, kNotAvailable},
        RefusedCase{"ProductMissing", {{"product", std::nullopt}}, kOtherProduct},
        RefusedCase{"ProductOtherCase", {{"product", R"("orvanti")"}}, kOtherProduct},
        RefusedCase{"ProductTrailingBlank", {{"product", R"("Orvanti ")"}}, kOtherProduct},
        RefusedCase{"ProductNotAString", {{"product", "7"}}, kOtherProduct},
        RefusedCase{"VersionMissing", {{"latestVersion", std::nullopt}}, kBadVersionText},
        RefusedCase{"VersionTwoDots", {{"latestVersion", R"("1.2.3")"}}, kBadVersionText},
        RefusedCase{"VersionFourDots", {{"latestVersion", R"("1.2.3.4.5")"}}, kBadVersionText},
        RefusedCase{"VersionNotAString", {{"latestVersion", "1.2"}}, kBadVersionText},
        RefusedCase{"VersionLetter", {{"latestVersion", R"("1.2.3.x")"}}, kInvalidVersion},
        RefusedCase{"VersionEmptyPart", {{"latestVersion", R"("1..2.3")"}}, kInvalidVersion},
        RefusedCase{
            "VersionPartTooLarge", {{"latestVersion", R"("1.2.3.65536")"}}, kInvalidVersion},
        RefusedCase{
            "VersionSixDigitPart", {{"latestVersion", R"("1.2.3.000001")"}}, kInvalidVersion},
        RefusedCase{"DigestMissing", {{"sha256", std::nullopt}}, kBadDigest},
        RefusedCase{"Digest63Digits", {{"sha256", quoted(kLowerDigest.substr(1))}}, kBadDigest},
        RefusedCase{"Digest65Digits", {{"sha256", quoted(kLowerDigest + "a")}}, kBadDigest},
        RefusedCase{
            "DigestWithLetterG", {{"sha256", quoted("g" + kLowerDigest.substr(1))}}, kBadDigest},
        RefusedCase{
            "DigestWithBlank", {{"sha256", quoted(kLowerDigest.substr(1) + " ")}}, kBadDigest},
        RefusedCase{"SizeMissing", {{"sizeBytes", std::nullopt}}, kBadSize},
        RefusedCase{"SizeWithFraction", {{"sizeBytes", "1024.0"}}, kBadSize},
        RefusedCase{"SizeWithExponent", {{"sizeBytes", "1e3"}}, kBadSize},
        RefusedCase{"SizeAsString", {{"sizeBytes", R"("1024")"}}, kBadSize},
        RefusedCase{"SizeAsBoolean", {{"sizeBytes", "true"}}, kBadSize},
        RefusedCase{"SizeAsNull", {{"sizeBytes", "null"}}, kBadSize},
        RefusedCase{"SizeZero", {{"sizeBytes", "0"}}, kSizeOutOfRange},
        RefusedCase{"SizeNegative", {{"sizeBytes", "-1"}}, kSizeOutOfRange},
        RefusedCase{"SizeOneAboveLimit", {{"sizeBytes", "268435457"}}, kSizeOutOfRange},
        // Above the largest signed 64-bit value: read as signed, it is negative.
        RefusedCase{"SizeAboveSigned64", {{"sizeBytes", "9223372036854775808"}}, kSizeOutOfRange},
        RefusedCase{
            "SizeLargestUnsigned64", {{"sizeBytes", "18446744073709551615"}}, kSizeOutOfRange},
        RefusedCase{"PathMissing", {{"downloadPath", std::nullopt}}, kBadPath},
        RefusedCase{
            "PathTrailingSlash", {{"downloadPath", quoted(std::string(kPath) + "/")}}, kBadPath},
        RefusedCase{
            "PathWithQuery", {{"downloadPath", quoted(std::string(kPath) + "?x=1")}}, kBadPath},
        RefusedCase{"PathOtherCase",
                    {{"downloadPath", R"("/tov/v2/client/client-updates/Orvanti/download")"}},
                    kBadPath},
        RefusedCase{"PathAbsoluteUrl",
                    {{"downloadPath", quoted(std::string("https://example.com") + kPath)}},
                    kBadPath},
        RefusedCase{"PathPrefixOnly",
                    {{"downloadPath", R"("/tov/v2/client/client-updates/orvanti")"}},
                    kBadPath}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    TwoRulesBroken, RefusedManifest,
    testing::Values(RefusedCase{"NotAvailableAndBadPath",
                                {{"available", "false"}, {"downloadPath", R"("/x")"}},
                                kNotAvailable},
                    RefusedCase{"OtherProductAndBadDigest",
                                {{"product", R"("Other")"}, {"sha256", R"("xyz")"}},
                                kOtherProduct},
                    RefusedCase{"TwoDotsAndBadSize",
                                {{"latestVersion", R"("1.2.3")"}, {"sizeBytes", "1.5"}},
                                kBadVersionText},
                    RefusedCase{"InvalidVersionAndBadDigest",
                                {{"latestVersion", R"("1.2.3.x")"}, {"sha256", R"("")"}},
                                kInvalidVersion},
                    RefusedCase{"BadDigestAndSizeZero",
                                {{"sha256", R"("00")"}, {"sizeBytes", "0"}},
                                kBadDigest},
                    RefusedCase{"SizeAsStringAndBadPath",
                                {{"sizeBytes", R"("1024")"}, {"downloadPath", R"("/")"}},
                                kBadSize},
                    RefusedCase{"SizeTooLargeAndBadPath",
                                {{"sizeBytes", "268435457"}, {"downloadPath", R"("/")"}},
                                kSizeOutOfRange}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ValidateReleaseInfo, RefusesATopLevelValueThatIsNotAnObject) {
  for (const char* text : {R"([{"available": true}])", R"("available")", "1", "true", "null"}) {
    SCOPED_TRACE(text);
    const ReleaseInfo manifest = ReleaseInfo::parse(text);
    EXPECT_EQ(userErrorMessage([&] { validateReleaseInfo(manifest); }), kNotAvailable);
  }
}

// A flag that is present but not a boolean is a malformed manifest, reported by the JSON
// library's own type error rather than read as "not available".
TEST(ValidateReleaseInfo, AvailableOfAnotherTypeGivesTheJsonTypeError) {
  const std::pair<const char*, const char*> cases[] = {
      {R"("true")", "string"}, {"1", "number"}, {"null", "null"}, {"[true]", "array"}};
  for (const auto& [text, typeName] : cases) {
    SCOPED_TRACE(text);
    const ReleaseInfo manifest = changedManifest({{"available", text}});
    try {
      validateReleaseInfo(manifest);
      ADD_FAILURE() << "no failure";
    } catch (const UserError& error) {
      ADD_FAILURE() << "a UserError instead of the JSON type error: " << error.what();
    } catch (const nlohmann::json::type_error& error) {
      EXPECT_EQ(error.id, 302);
      EXPECT_NE(
          std::string(error.what()).find(std::string("type must be boolean, but is ") + typeName),
          std::string::npos)
          << error.what();
    }
  }
}

// The update check's parse: one JSON text, white space around it allowed, nothing else.
TEST(ParseReleaseInfo, ReadsExactlyOneJsonTextWithoutComments) {
  EXPECT_EQ(parseReleaseInfo(" {\"a\": [1, \"x\"]}\r\n"), ReleaseInfo::parse(R"({"a": [1, "x"]})"));
  EXPECT_EQ(parseReleaseInfo("\"text\""), ReleaseInfo("text"));
  for (const char* body : {"", " ", "{} {}", "{}x", "{} // note", "/* note */ {}", "{\"a\": 1,}",
                           "\xEF\xBB\xBF{}x", "{\"a\": \"\xff\"}", "[1, 2"}) {
    SCOPED_TRACE(body);
    EXPECT_THROW(parseReleaseInfo(body), nlohmann::json::parse_error);
  }
}

// Found by the manifest fuzz target: a number beyond the double range is valid JSON that the
// library refuses to read with its range error 406, not its parse error. The body is refused
// either way; the update check reports the library's text.
TEST(ParseReleaseInfo, ANumberBeyondTheDoubleRangeFailsWithTheLibrarysRangeError) {
  for (const char* body : {"9E9999", R"({"sizeBytes": 1e999})", R"({"notes": [-1e400]})"}) {
    SCOPED_TRACE(body);
    try {
      parseReleaseInfo(body);
      ADD_FAILURE() << "no failure";
    } catch (const nlohmann::json::out_of_range& error) {
      EXPECT_EQ(error.id, 406) << error.what();
    }
  }
}

TEST(StringField, ReturnsOnlyAStringMember) {
  const ReleaseInfo object = ReleaseInfo::parse(
      R"({"text": "abc", "empty": "", "number": 5, "flag": true, "nothing": null,
          "list": ["abc"], "nested": {"text": "abc"}})");
  EXPECT_EQ(stringField(object, "text", "fallback"), "abc");
  EXPECT_EQ(stringField(object, "empty", "fallback"), "");
  for (const char* key : {"number", "flag", "nothing", "list", "nested", "missing", "Text"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(stringField(object, key, "fallback"), "fallback");
  }
  for (const char* text : {R"(["text"])", R"("text")", "5", "null"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(stringField(ReleaseInfo::parse(text), "text", "fallback"), "fallback");
  }
}

}  // namespace
