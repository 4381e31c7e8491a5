#include "tools/verify/report_text.h"

#include <windows.h>

namespace {

const char* statusText(CheckStatus status) {
  switch (status) {
    case CheckStatus::Passed:
      return "passed";
    case CheckStatus::Failed:
      return "failed";
    case CheckStatus::NotMade:
      break;
  }
  return "not made";
}

// Fixed-width column markers, so that a failure stands out in a long report.
const char* statusMark(CheckStatus status) {
  switch (status) {
    case CheckStatus::Passed:
      return "ok  ";
    case CheckStatus::Failed:
      return "FAIL";
    case CheckStatus::NotMade:
      break;
  }
  return "--  ";
}

}  // namespace

std::string toUtf8Lenient(std::wstring_view text) {
  if (text.empty()) return {};
  // Without WC_ERR_INVALID_CHARS an unpaired surrogate becomes U+FFFD.
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                        nullptr, nullptr);
  }
  return result;
}

std::string jsonText(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string reportText(const std::string& releaseDir, const BuildIdentity& build,
                       const ReleaseJudgement& judgement) {
  std::string text = "release: " + releaseDir + "\n";
  text += "judged as a client of this build: update service " + build.updateServer +
          ", pinned publisher " + build.pinnedThumbprint + "\n";
  for (const CheckLine& line : judgement.checks) {
    std::string entry = std::string(statusMark(line.status)) + " " + line.check + ":";
    if (!line.expected.empty()) entry += " expected " + line.expected;
    if (!line.found.empty()) entry += (line.expected.empty() ? " found " : "; found ") + line.found;
    if (line.status == CheckStatus::NotMade) entry += " (not made)";
    if (!line.message.empty()) entry += "; the client refuses with: " + line.message;
    text += entry + "\n";
  }
  text += judgement.accepted ? "verdict: accepted: a client of this build accepts this release\n"
                             : "verdict: refused: " + judgement.message + "\n";
  return text;
}

nlohmann::json reportJson(const std::string& releaseDir, const BuildIdentity& build,
                          const ReleaseJudgement& judgement) {
  nlohmann::json checks = nlohmann::json::array();
  for (const CheckLine& line : judgement.checks) {
    nlohmann::json entry = {{"check", line.check},
                            {"status", statusText(line.status)},
                            {"expected", line.expected},
                            {"found", line.found}};
    if (!line.message.empty()) entry["message"] = line.message;
    if (!line.signer.is_null()) entry["signer"] = line.signer;
    checks.push_back(std::move(entry));
  }
  return {{"releaseDir", releaseDir},
          {"updateServer", build.updateServer},
          {"pinnedThumbprint", build.pinnedThumbprint},
          {"checks", std::move(checks)},
          {"accepted", judgement.accepted},
          {"message", judgement.accepted ? nlohmann::json() : nlohmann::json(judgement.message)}};
}
