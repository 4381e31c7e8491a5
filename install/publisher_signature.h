#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// True when the file carries a valid embedded Authenticode signature whose signer certificate has
// the given SHA-1 thumbprint (compared without case). Every negative outcome is false.
bool verifyPublisherSignature(const std::wstring& path, std::string_view pinnedThumbprint);

// The same against the publisher pinned in this build.
bool verifyPublisherSignature(const std::wstring& path);

// What the check saw, for the release verification tool's report.
struct SignerReport {
  std::uint32_t trustResult = 0;  // WinVerifyTrust's answer: 0 when the signature verifies
  std::string thumbprint;         // the verified signer's, 40 lower-case digits; empty if none
  std::wstring subject;           // its subject name
};

// verifyPublisherSignature that also fills the report; the answer is the same.
bool verifyPublisherSignature(const std::wstring& path, std::string_view pinnedThumbprint,
                              SignerReport& report);

// The signer certificate embedded in the file, read without verifying anything: for a report on
// a file whose signature does not verify. Empty texts when there is none.
struct EmbeddedSigner {
  std::string thumbprint;
  std::wstring subject;
};
EmbeddedSigner readEmbeddedSigner(const std::wstring& path);
