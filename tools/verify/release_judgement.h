#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

// A release folder (manifest.json and OrvantiSetup.exe) judged as a client of this build judges
// the release when the folder is served as the update service.

enum class CheckStatus { Passed, Failed, NotMade };

struct CheckLine {
  std::string check;  // the check's name, stable for scripts
  CheckStatus status = CheckStatus::NotMade;
  std::string expected;   // what the client asks for
  std::string found;      // what the release shows
  std::string message;    // the client's failure text: only on the first failed check
  nlohmann::json signer;  // for the signature: what the trust check reported (else null)
};

struct ReleaseJudgement {
  std::vector<CheckLine> checks;  // in the client's order
  bool accepted = false;          // a client of this build accepts the release
  std::string message;            // the client's failure text when it refuses
};

// Makes every check that can be made, in the client's order, with the client's own code; the
// verdict and its message are those of the first failed check. Never runs the installer.
ReleaseJudgement judgeRelease(const std::wstring& releaseDir, std::string_view pinnedThumbprint);
