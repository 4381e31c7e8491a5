// The release verification tool, run as the publisher runs it, on release folders made of the
// installer tests' fixture programs (good and every bad variant) and of broken manifests.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "build_constants.h"
#include "common/sha256.h"
#include "common/text.h"
#include "test_pki.h"
#include "tests/support/fixture_programs.h"
#include "tests/support/test_support.h"
#include "tests/support/verify_tool.h"

namespace fs = std::filesystem;
using testsupport::judgeWithVerifyTool;
using testsupport::reportCheck;

namespace {

// The checks in the client's order; a row's `statuses` has one letter per check: P passed,
// F failed, - not made.
const char* const kChecks[] = {
    "manifest-file", "manifest-json", "manifest-rules", "installer-file", "installer-hold", "size",
    "sha256",        "signature",     "product-name",   "description",    "version"};

constexpr char kDownloadPath[] = "/tov/v2/client/client-updates/orvanti/download";

// A release folder as the publisher tool writes it: the fixture as OrvantiSetup.exe and the
// manifest that describes it.
struct Release {
  testsupport::TempFolder folder;
  std::wstring installer() const { return folder.file(L"OrvantiSetup.exe"); }
  std::wstring manifestFile() const { return folder.file(L"manifest.json"); }

  nlohmann::json publish(const std::wstring& fixture, const std::string& version) {
    if (!CopyFileW(testsupport::fixtureProgram(fixture).c_str(), installer().c_str(), FALSE)) {
      throw std::runtime_error("CopyFileW failed: " + std::to_string(GetLastError()));
    }
    nlohmann::json manifest = {{"available", true},
                               {"product", "Orvanti"},
                               {"latestVersion", version},
                               {"sha256", sha256File(installer())},
                               {"sizeBytes", fs::file_size(installer())},
                               {"downloadPath", kDownloadPath}};
    writeManifest(manifest.dump(2));
    return manifest;
  }
  void writeManifest(const std::string& text) const {
    testsupport::writeFile(manifestFile(), text);
  }
};

std::string statusLetters(const nlohmann::json& report) {
  std::string letters;
  for (const nlohmann::json& check : report.at("checks")) {
    const std::string status = check.at("status");
    letters += status == "passed" ? 'P' : status == "failed" ? 'F' : '-';
  }
  return letters;
}

using Arrange = std::function<void(Release&)>;

Arrange fixture(const wchar_t* name, const char* version = "1.2.0.0") {
  return [=](Release& r) { r.publish(name, version); };
}

// The good installer with its manifest changed afterwards.
Arrange changedManifest(const std::function<void(nlohmann::json&)>& change) {
  return [=](Release& r) {
    nlohmann::json manifest = r.publish(L"installer", "1.2.0.0");
    change(manifest);
    r.writeManifest(manifest.dump());
  };
}

struct Row {
  const char* name;
  Arrange arrange;
  const char* message;   // the client's message (before its last-error code); empty: accepted
  const char* statuses;  // see kChecks
  const char* firstFailed;
};

const char kSize[] = "インストーラのサイズが一致しません。";
const char kDigest[] = "インストーラのハッシュが一致しません。";
const char kSignature[] = "インストーラの発行元署名を確認できません。";
const char kIdentity[] = "インストーラの製品またはバージョンが一致しません。";

const Row kRows[] = {
    {"good installer", fixture(L"installer"), "", "PPPPPPPPPPP", ""},
    {"one byte more in the manifest's size",
     changedManifest([](nlohmann::json& m) { m["sizeBytes"] = m["sizeBytes"].get<int>() + 1; }),
     kSize, "PPPPPFPPPPP", "size"},
    // The file was changed after the manifest was made: its digest and its signature fail.
    {"changed after publishing",
     [](Release& r) {
       r.publish(L"installer", "1.2.0.0");
       CopyFileW(testsupport::fixtureProgram(L"installer-tampered").c_str(), r.installer().c_str(),
                 FALSE);
     },
     kDigest, "PPPPPPFFPPP", "sha256"},
    {"unsigned", fixture(L"installer-unsigned"), kSignature, "PPPPPPPFPPP", "signature"},
    {"other publisher", fixture(L"installer-other-signer"), kSignature, "PPPPPPPFPPP", "signature"},
    {"untrusted root", fixture(L"installer-untrusted"), kSignature, "PPPPPPPFPPP", "signature"},
    {"changed after signing", fixture(L"installer-tampered"), kSignature, "PPPPPPPFPPP",
     "signature"},
    {"product name in lower case", fixture(L"installer-lowercase-product"), kIdentity,
     "PPPPPPPPFPP", "product-name"},
    {"no description", fixture(L"installer-no-description"), kIdentity, "PPPPPPPPPFP",
     "description"},
    {"version 1.2 for 1.2.0.0", fixture(L"installer-short-version"), kIdentity, "PPPPPPPPPPF",
     "version"},
    {"other published version", fixture(L"installer", "1.2.0.1"), kIdentity, "PPPPPPPPPPF",
     "version"},
    // Broken manifests: the checks that do not need the manifest are still made.
    {"no manifest",
     [](Release& r) {
       r.publish(L"installer", "1.2.0.0");
       DeleteFileW(r.manifestFile().c_str());
     },
     "更新サーバーに接続できませんでした。時間をおいて再実行してください。", "F--PP--PPP-",
     "manifest-file"},
    {"manifest over 65536 bytes",
     changedManifest([](nlohmann::json& m) { m["padding"] = std::string(65536, 'x'); }),
     "更新ファイルが上限を超えました", "F--PP--PPP-", "manifest-file"},
    {"manifest not JSON",
     [](Release& r) {
       r.publish(L"installer", "1.2.0.0");
       r.writeManifest("<html>maintenance</html>");
     },
     "[json.exception.parse_error.101]", "PF-PP--PPP-", "manifest-json"},
    {"manifest of another product",
     changedManifest([](nlohmann::json& m) { m["product"] = "Orvanti "; }),
     "別製品の配布情報は使用できません。", "PPFPP--PPP-", "manifest-rules"},
    {"manifest size 0, unsigned installer",
     [](Release& r) {
       nlohmann::json manifest = r.publish(L"installer-unsigned", "1.2.0.0");
       manifest["sizeBytes"] = 0;
       r.writeManifest(manifest.dump());
     },
     "配布サイズが上限を超えています。", "PPFPP--FPP-", "manifest-rules"},
    {"no installer",
     [](Release& r) {
       r.publish(L"installer", "1.2.0.0");
       DeleteFileW(r.installer().c_str());
     },
     "Orvantiのダウンロードに失敗しました。", "PPPF-------", "installer-file"},
};

// The program's own failures are the message followed by its last-error code; the JSON
// library's are its own text.
void expectClientMessage(const std::string& actual, const std::string& message) {
  if (message.rfind("[json.", 0) == 0) {
    EXPECT_EQ(actual.rfind(message, 0), 0u) << actual;
    return;
  }
  EXPECT_EQ(actual.rfind(message + " (", 0), 0u) << actual;
  EXPECT_EQ(actual.back(), ')') << actual;
}

TEST(VerifyTool, JudgesEachReleaseAsTheClientDoesAndMakesTheLaterChecks) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    Release release;
    row.arrange(release);
    const testsupport::VerifyToolRun run = judgeWithVerifyTool(release.folder.path());
    const nlohmann::json& report = run.report;

    ASSERT_EQ(report.at("checks").size(), std::size(kChecks));
    for (std::size_t i = 0; i < std::size(kChecks); ++i) {
      EXPECT_EQ(report["checks"][i]["check"], kChecks[i]);
    }
    EXPECT_EQ(statusLetters(report), row.statuses);
    const bool accepted = *row.message == '\0';
    EXPECT_EQ(run.exitCode, accepted ? 0u : 1u);
    EXPECT_EQ(report["accepted"], accepted);
    if (accepted) {
      EXPECT_TRUE(report["message"].is_null());
      continue;
    }
    // The message is the verdict's and stands on the first failed check, and only there.
    expectClientMessage(report["message"], row.message);
    for (const nlohmann::json& check : report["checks"]) {
      if (check["check"] == row.firstFailed) {
        EXPECT_EQ(check.value("message", ""), report["message"]);
      } else {
        EXPECT_FALSE(check.contains("message")) << check.dump();
      }
    }
  }
}

// What a publisher reads: the sizes, digests, signer and version-resource values found.
TEST(VerifyTool, ReportsWhatItFound) {
  const auto check = [](const nlohmann::json& report, const char* name) {
    return reportCheck(report, name);
  };
  {
    SCOPED_TRACE("good installer");
    Release release;
    const nlohmann::json manifest = release.publish(L"installer", "1.2.0.0");
    const nlohmann::json report = judgeWithVerifyTool(release.folder.path()).report;
    EXPECT_EQ(report["pinnedThumbprint"], kPinnedSignerThumbprint);
    EXPECT_EQ(report["pinnedThumbprint"], kTestPublisherThumbprint);
    EXPECT_EQ(report["updateServer"], kUpdateServerUrl);
    const std::string size = std::to_string(manifest["sizeBytes"].get<std::uint64_t>()) + " bytes";
    EXPECT_EQ(check(report, "size")["expected"], size);
    EXPECT_EQ(check(report, "size")["found"], size);
    EXPECT_EQ(check(report, "sha256")["found"], manifest["sha256"]);
    EXPECT_EQ(check(report, "installer-file")["found"], size);
    const nlohmann::json signature = check(report, "signature");
    EXPECT_EQ(signature["expected"],
              std::string("a valid embedded signature by ") + kTestPublisherThumbprint);
    EXPECT_EQ(signature["signer"]["thumbprint"], kTestPublisherThumbprint);
    EXPECT_EQ(signature["signer"]["trustResult"], "0x00000000");
    EXPECT_EQ(signature["signer"]["verified"], true);
    EXPECT_NE(signature["signer"]["subject"].get<std::string>().find("CN="), std::string::npos);
    EXPECT_EQ(check(report, "product-name")["found"], "\"Orvanti\"");
    EXPECT_EQ(check(report, "description")["found"], "\"Orvanti Setup\"");
    EXPECT_EQ(check(report, "version")["expected"], "ProductVersion \"1.2.0.0\"");
    EXPECT_EQ(check(report, "version")["found"], "\"1.2.0.0\"");
  }
  struct SignerRow {
    const wchar_t* fixture;
    const char* trustResult;
    const char* thumbprint;  // the signer the report names; empty: none
    bool verified;
  };
  // Under Wine a leaf signed with SHA-1 has its chain checked: the untrusted root is refused by
  // the trust check itself, the other publisher only by the pinned thumbprint.
  const SignerRow signers[] = {
      {L"installer-other-signer", "0x00000000", kTestOtherPublisherThumbprint, true},
      {L"installer-untrusted", "0x800B0109", kTestUntrustedThumbprint, false},
      {L"installer-tampered", "0x80096010", kTestPublisherThumbprint, false},
      {L"installer-unsigned", "0x800B0100", "", false},
  };
  for (const SignerRow& row : signers) {
    SCOPED_TRACE(toUtf8(row.fixture));
    Release release;
    release.publish(row.fixture, "1.2.0.0");
    const nlohmann::json signature =
        check(judgeWithVerifyTool(release.folder.path()).report, "signature");
    EXPECT_EQ(signature["signer"]["trustResult"], row.trustResult);
    if (*row.thumbprint == '\0') {
      EXPECT_FALSE(signature["signer"].contains("thumbprint")) << signature.dump();
      EXPECT_NE(signature["found"].get<std::string>().find("no embedded signer"),
                std::string::npos);
    } else {
      EXPECT_EQ(signature["signer"]["thumbprint"], row.thumbprint);
      EXPECT_EQ(signature["signer"]["verified"], row.verified);
      EXPECT_NE(signature["found"].get<std::string>().find(row.thumbprint), std::string::npos);
    }
  }
  {
    SCOPED_TRACE("lower-case product");
    Release release;
    release.publish(L"installer-lowercase-product", "1.2.0.0");
    const nlohmann::json report = judgeWithVerifyTool(release.folder.path()).report;
    EXPECT_EQ(check(report, "product-name")["expected"], "ProductName \"Orvanti\"");
    EXPECT_EQ(check(report, "product-name")["found"], "\"orvanti\"");
  }
}

// The text report: one line per check, the first failure with the client's message in UTF-8
// bytes, and the verdict last.
TEST(VerifyTool, TextReportHasOneLinePerCheck) {
  Release release;
  release.publish(L"installer-other-signer", "1.2.0.0");
  const testsupport::VerifyToolRun run =
      testsupport::runVerifyTool(L"\"" + release.folder.path() + L"\"");
  EXPECT_EQ(run.exitCode, 1u);
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = run.output.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(run.output.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 2 + std::size(kChecks) + 1) << run.output;
  EXPECT_EQ(lines[0], "release: " + toUtf8(release.folder.path()));
  EXPECT_EQ(lines[1], std::string("judged as a client of this build: update service ") +
                          kUpdateServerUrl + ", pinned publisher " + kPinnedSignerThumbprint);
  for (std::size_t i = 0; i < std::size(kChecks); ++i) {
    const std::string& line = lines[2 + i];
    const bool signature = std::string(kChecks[i]) == "signature";
    EXPECT_EQ(line.rfind(std::string(signature ? "FAIL " : "ok   ") + kChecks[i] + ": ", 0), 0u)
        << line;
  }
  const std::string& signatureLine = lines[2 + 7];
  EXPECT_NE(signatureLine.find(std::string("found signer ") + kTestOtherPublisherThumbprint),
            std::string::npos)
      << signatureLine;
  EXPECT_NE(signatureLine.find(std::string("; the client refuses with: ") + kSignature + " ("),
            std::string::npos)
      << signatureLine;
  EXPECT_EQ(lines.back().rfind(std::string("verdict: refused: ") + kSignature + " (", 0), 0u)
      << lines.back();
}

// The tool only reads the installer: the fixture installer writes a record whenever it starts.
TEST(VerifyTool, NeverRunsTheInstaller) {
  testsupport::TempFolder records;
  const std::wstring record = records.file(L"installer.txt");
  SetEnvironmentVariableW(L"ORVANTI_FIXTURE_INSTALLER_RECORD", record.c_str());
  Release release;
  release.publish(L"installer", "1.2.0.0");
  EXPECT_EQ(judgeWithVerifyTool(release.folder.path()).exitCode, 0u);
  SetEnvironmentVariableW(L"ORVANTI_FIXTURE_INSTALLER_RECORD", nullptr);
  // An installer started by the tool need not have ended with it: give it time to write.
  EXPECT_FALSE(testsupport::pollUntil([&] { return fs::exists(record); }, std::chrono::seconds(3)));
}

TEST(VerifyTool, UsageErrorsEndWithTwo) {
  Release release;
  release.publish(L"installer", "1.2.0.0");
  const std::wstring folder = L"\"" + release.folder.path() + L"\"";
  const std::pair<const char*, std::wstring> cases[] = {
      {"no folder", L""},
      {"two folders", folder + L" " + folder},
      {"unknown option", L"--quiet " + folder},
      {"no such folder", L"\"" + release.folder.file(L"missing") + L"\""},
      {"a file, not a folder", L"\"" + release.manifestFile() + L"\""},
  };
  for (const auto& [name, arguments] : cases) {
    SCOPED_TRACE(name);
    const testsupport::VerifyToolRun run = testsupport::runVerifyTool(arguments);
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.output, "") << "a usage error goes to standard error";
  }
}

}  // namespace
