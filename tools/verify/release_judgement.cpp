#include "tools/verify/release_judgement.h"

#include <windows.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>

#include "common/sha256.h"
#include "common/unique_resource.h"
#include "common/user_error.h"
#include "common/version_resource.h"
#include "install/installer_verification.h"
#include "install/publisher_signature.h"
#include "tools/verify/report_text.h"
#include "update/release_info.h"
#include "update/transfer.h"
#include "update/update_check.h"

namespace fs = std::filesystem;

namespace {

// What a static service answers for a file that is not in the release folder.
constexpr std::uint32_t kHttpNotFound = 404;

// The text of the failure that `step` throws, or nothing when it returns normally. Each step is
// the client's own statement, so the text (and the last-error code in it) is the client's.
std::optional<std::string> failureOf(const std::function<void()>& step) {
  try {
    step();
    return std::nullopt;
  } catch (const std::exception& failure) {
    return std::string(failure.what());
  }
}

std::string bytesText(std::uint64_t size) { return std::to_string(size) + " bytes"; }

std::string hex32(std::uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
  return text;
}

// The members that the client reads, as the manifest has them.
std::string manifestFields(const ReleaseInfo& manifest) {
  if (!manifest.is_object()) return std::string("a JSON ") + manifest.type_name();
  std::string text;
  for (const char* key :
       {"available", "product", "latestVersion", "sha256", "sizeBytes", "downloadPath"}) {
    if (!text.empty()) text += ", ";
    text += key;
    const auto member = manifest.find(key);
    text += member == manifest.end() ? std::string(" missing") : " " + jsonText(*member);
  }
  return text;
}

class Judge {
 public:
  // A check that the client makes; `step` throws the client's failure when the check fails.
  CheckLine& made(std::string check, std::string expected, const std::function<void()>& step,
                  const std::function<void(CheckLine&)>& describe = {}) {
    CheckLine& line = add(std::move(check), std::move(expected));
    const std::optional<std::string> failure = failureOf(step);
    line.status = failure ? CheckStatus::Failed : CheckStatus::Passed;
    if (failure && result_.accepted) {
      result_.accepted = false;
      result_.message = *failure;
      line.message = *failure;
    }
    // Texts are made after the verdict, so that nothing runs between a check and its failure.
    if (describe) describe(line);
    return line;
  }

  // A check that cannot be made because what it compares with is missing; shows what was found.
  void notMade(std::string check, std::string expected, const std::function<std::string()>& found) {
    CheckLine& line = add(std::move(check), std::move(expected));
    line.status = CheckStatus::NotMade;
    if (found) {
      try {
        line.found = found();
      } catch (const std::exception& failure) {
        line.found = failure.what();
      }
    }
  }

  ReleaseJudgement finish() { return std::move(result_); }

 private:
  CheckLine& add(std::string check, std::string expected) {
    CheckLine line;
    line.check = std::move(check);
    line.expected = std::move(expected);
    result_.checks.push_back(std::move(line));
    return result_.checks.back();
  }

  ReleaseJudgement result_{{}, true, {}};
};

}  // namespace

ReleaseJudgement judgeRelease(const std::wstring& releaseDir, std::string_view pinnedThumbprint) {
  Judge judge;
  const fs::path folder(releaseDir);

  // The manifest: what the client's first request receives, and its rules.
  const fs::path manifestPath = folder / kManifestFileName;
  std::optional<std::string> body;
  {
    std::ifstream in(manifestPath, std::ios::binary);
    if (fs::is_regular_file(manifestPath) && in) {
      body.emplace(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (in.bad()) body.reset();
    }
  }
  judge.made(
      "manifest-file", "manifest.json of at most " + bytesText(kManifestSizeLimit),
      [&] {
        if (!body) ensureManifestStatus(kHttpNotFound);
        ensureWithinSizeLimit(body->size(), kManifestSizeLimit);
      },
      [&](CheckLine& line) {
        line.found = body ? bytesText(body->size()) : "no such file (the service answers 404)";
      });

  std::optional<ReleaseInfo> manifest;
  bool manifestValid = false;
  if (body && body->size() <= kManifestSizeLimit) {
    judge.made(
        "manifest-json", "exactly one JSON text", [&] { manifest = parseReleaseInfo(*body); },
        [&](CheckLine& line) {
          line.found = manifest ? std::string("a JSON ") + manifest->type_name() : "not JSON";
        });
  } else {
    judge.notMade("manifest-json", "exactly one JSON text", {});
  }
  const std::string rules =
      "available true, product \"Orvanti\", a four-part latestVersion, a 64-digit sha256, "
      "sizeBytes 1 to 268435456, downloadPath \"/tov/v2/client/client-updates/orvanti/download\"";
  if (manifest) {
    judge.made(
        "manifest-rules", rules,
        [&] {
          validateReleaseInfo(*manifest);
          manifestValid = true;
        },
        [&](CheckLine& line) { line.found = manifestFields(*manifest); });
  } else {
    judge.notMade("manifest-rules", rules, {});
  }

  // The installer: what the client's second request receives, held while it is checked.
  const std::wstring installer = (folder / kInstallerFileName).wstring();
  const std::optional<std::uint64_t> installerSize =
      fs::is_regular_file(installer) ? std::optional(fs::file_size(installer)) : std::nullopt;
  judge.made(
      "installer-file",
      toUtf8Lenient(kInstallerFileName) + " of at most " + bytesText(kInstallerSizeLimit),
      [&] {
        if (!installerSize) ensureInstallerStatus(kHttpNotFound);
        ensureWithinSizeLimit(*installerSize, kInstallerSizeLimit);
      },
      [&](CheckLine& line) {
        line.found =
            installerSize ? bytesText(*installerSize) : "no such file (the service answers 404)";
      });

  const char* kHoldExpected = "opened for reading, shared for reading only";
  const std::vector<RequiredVersionValue> values =
      requiredInstallerValues(manifest ? *manifest : ReleaseInfo());
  const char* const valueChecks[] = {"product-name", "description", "version"};
  // Without the file, or without the hold, the client verifies nothing.
  const auto withoutTheInstallerChecks = [&] {
    for (const char* check : {"size", "sha256", "signature"}) judge.notMade(check, "", {});
    for (const char* check : valueChecks) judge.notMade(check, "", {});
    return judge.finish();
  };
  if (!installerSize) {
    judge.notMade("installer-hold", kHoldExpected, {});
    return withoutTheInstallerChecks();
  }

  UniqueHandle hold;
  judge.made(
      "installer-hold", kHoldExpected, [&] { hold = holdInstallerForVerification(installer); },
      [&](CheckLine& line) { line.found = hold.valid() ? "held" : "cannot be opened"; });
  if (!hold.valid()) return withoutTheInstallerChecks();

  // The checks of the installer's verification, in its order (its first step, the manifest's
  // validation, is the one above: the same value gives the same answer).
  if (manifestValid) {
    InstallerFinding size;
    judge.made(
        "size", "",
        [&] {
          size = checkInstallerSize(*manifest, installer);
          ensure(size.passed, kInstallerSizeMismatch);
        },
        [&](CheckLine& line) {
          line.expected = size.expected;
          line.found = size.found;
        });
    InstallerFinding digest;
    judge.made(
        "sha256", "",
        [&] {
          digest = checkInstallerDigest(*manifest, installer);
          ensure(digest.passed, kInstallerDigestMismatch);
        },
        [&](CheckLine& line) {
          line.expected = digest.expected;
          line.found = digest.found;
        });
  } else {
    judge.notMade("size", "the manifest's sizeBytes",
                  [&] { return bytesText(installerFileSize(installer).value_or(0)); });
    judge.notMade("sha256", "the manifest's sha256", [&] { return sha256File(installer); });
  }

  SignerReport signer;
  judge.made(
      "signature", "a valid embedded signature by " + std::string(pinnedThumbprint),
      [&] {
        ensure(verifyPublisherSignature(installer, pinnedThumbprint, signer),
               kInstallerSignatureRejected);
      },
      [&](CheckLine& line) {
        line.signer = {{"trustResult", hex32(signer.trustResult)}};
        if (!signer.thumbprint.empty()) {
          line.found = "signer " + signer.thumbprint + " \"" + toUtf8Lenient(signer.subject) +
                       "\" (WinVerifyTrust " + hex32(signer.trustResult) + ")";
          line.signer["thumbprint"] = signer.thumbprint;
          line.signer["subject"] = toUtf8Lenient(signer.subject);
          line.signer["verified"] = true;
          return;
        }
        // The trust check refused the file: name the signer it carries, unverified.
        line.found = "WinVerifyTrust " + hex32(signer.trustResult);
        const EmbeddedSigner embedded = readEmbeddedSigner(installer);
        if (embedded.thumbprint.empty()) {
          line.found += ", no embedded signer";
        } else {
          line.found += ", embedded signer " + embedded.thumbprint + " \"" +
                        toUtf8Lenient(embedded.subject) + "\" (not verified)";
          line.signer["thumbprint"] = embedded.thumbprint;
          line.signer["subject"] = toUtf8Lenient(embedded.subject);
          line.signer["verified"] = false;
        }
      });

  // The three version-resource values; the client stops at the first that differs, with one
  // message for all three.
  for (std::size_t i = 0; i < values.size(); ++i) {
    const RequiredVersionValue& value = values[i];
    if (value.name == L"ProductVersion" && !manifestValid) {
      judge.notMade(valueChecks[i], "ProductVersion as the manifest's latestVersion", [&] {
        return "\"" + toUtf8Lenient(readVersionString(installer, value.name)) + "\"";
      });
      continue;
    }
    VersionValueFinding finding;
    judge.made(
        valueChecks[i], toUtf8Lenient(value.name) + " \"" + toUtf8Lenient(value.expected) + "\"",
        [&] {
          finding = checkInstallerValue(installer, value);
          ensure(finding.passed, kInstallerIdentityMismatch);
        },
        [&](CheckLine& line) { line.found = "\"" + toUtf8Lenient(finding.found) + "\""; });
  }
  return judge.finish();
}
