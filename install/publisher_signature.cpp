#include "install/publisher_signature.h"

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cwctype>

#include "build_constants.h"
#include "common/text.h"

namespace {

// The signer's certificate has the pinned thumbprint. Reads only what a successful verification
// left in the state.
bool signerMatches(HANDLE stateData, std::string_view pinnedThumbprint) {
  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
  if (provider == nullptr) return false;
  CRYPT_PROVIDER_SGNR* signer =
      WTHelperGetProvSignerFromChain(provider, /* idxSigner */ 0, /* fCounterSigner */ FALSE,
                                     /* idxCounterSigner */ 0);
  if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr) {
    return false;
  }
  PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
  if (certificate == nullptr) return false;

  BYTE thumbprint[20] = {};
  DWORD size = sizeof(thumbprint);
  if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, thumbprint, &size)) {
    return false;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string digits;
  for (const BYTE byte : thumbprint) {
    digits.push_back(kHex[byte >> 4]);
    digits.push_back(kHex[byte & 0x0F]);
  }

  std::wstring expected = toUtf16(pinnedThumbprint);
  std::wstring actual = toUtf16(digits);
  for (wchar_t& c : expected) c = static_cast<wchar_t>(std::towlower(c));
  for (wchar_t& c : actual) c = static_cast<wchar_t>(std::towlower(c));
  return expected == actual;
}

}  // namespace

bool verifyPublisherSignature(const std::wstring& path, std::string_view pinnedThumbprint) {
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path.c_str();
  file.hFile = nullptr;  // the trust provider opens the file by its path
  file.pgKnownSubject = nullptr;

  // Only the signature embedded in the file counts (no catalog lookup), with no user interface
  // and no revocation checks.
  WINTRUST_DATA trust{};
  trust.cbStruct = sizeof(trust);
  trust.dwUIChoice = WTD_UI_NONE;
  trust.fdwRevocationChecks = WTD_REVOKE_NONE;
  trust.dwUnionChoice = WTD_CHOICE_FILE;
  trust.pFile = &file;
  trust.dwStateAction = WTD_STATEACTION_VERIFY;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  bool result = false;
  // Released below on every path, even when the comparison throws (invalid UTF-8 in the pin).
  struct StateRelease {
    GUID& action;
    WINTRUST_DATA& trust;
    ~StateRelease() {
      trust.dwStateAction = WTD_STATEACTION_CLOSE;
      WinVerifyTrust(/* hwnd */ nullptr, &action, &trust);
    }
  } release{action, trust};

  if (WinVerifyTrust(/* hwnd */ nullptr, &action, &trust) == 0) {
    result = signerMatches(trust.hWVTStateData, pinnedThumbprint);
  }
  return result;
}

bool verifyPublisherSignature(const std::wstring& path) {
  return verifyPublisherSignature(path, kPinnedSignerThumbprint);
}
