#include "install/publisher_signature.h"

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cwctype>
#include <vector>

#include "build_constants.h"
#include "common/text.h"
#include "common/unique_resource.h"

namespace {

// The certificate's SHA-1 thumbprint as 40 lower-case hexadecimal digits; empty when it cannot
// be read.
std::string thumbprintOf(PCCERT_CONTEXT certificate) {
  BYTE thumbprint[20] = {};
  DWORD size = sizeof(thumbprint);
  if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, thumbprint, &size)) {
    return {};
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string digits;
  for (const BYTE byte : thumbprint) {
    digits.push_back(kHex[byte >> 4]);
    digits.push_back(kHex[byte & 0x0F]);
  }
  return digits;
}

// The subject name; empty when it cannot be read.
std::wstring subjectOf(PCCERT_CONTEXT certificate) {
  // "CN=..., O=...", the common name first; asked for without quotes (Wine still quotes some).
  DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG;
  const DWORD length = CertGetNameStringW(certificate, CERT_NAME_RDN_TYPE, 0, &type, nullptr, 0);
  if (length <= 1) return {};
  std::wstring name(length, L'\0');
  CertGetNameStringW(certificate, CERT_NAME_RDN_TYPE, 0, &type, name.data(), length);
  name.resize(length - 1);
  return name;
}

// The signer's certificate has the pinned thumbprint. Reads only what a successful verification
// left in the state.
bool signerMatches(HANDLE stateData, std::string_view pinnedThumbprint, SignerReport* report) {
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

  const std::string digits = thumbprintOf(certificate);
  if (digits.empty()) return false;
  if (report != nullptr) {
    // The last-error value is kept: a failure message made after this check carries it, and it
    // must be the one that the check without a report leaves.
    const DWORD lastError = GetLastError();
    report->thumbprint = digits;
    report->subject = subjectOf(certificate);
    SetLastError(lastError);
  }

  std::wstring expected = toUtf16(pinnedThumbprint);
  std::wstring actual = toUtf16(digits);
  for (wchar_t& c : expected) c = static_cast<wchar_t>(std::towlower(c));
  for (wchar_t& c : actual) c = static_cast<wchar_t>(std::towlower(c));
  return expected == actual;
}

// The one body of the check; the report is filled only when one is given, so that the
// downloader's own check makes no call beyond those it needs.
bool checkSignature(const std::wstring& path, std::string_view pinnedThumbprint,
                    SignerReport* report) {
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

  const LONG trustResult = WinVerifyTrust(/* hwnd */ nullptr, &action, &trust);
  if (report != nullptr) report->trustResult = static_cast<std::uint32_t>(trustResult);
  if (trustResult == 0) {
    result = signerMatches(trust.hWVTStateData, pinnedThumbprint, report);
  }
  return result;
}

struct CertStoreTraits {
  using Type = HCERTSTORE;
  static Type none() noexcept { return nullptr; }
  static bool valid(Type h) noexcept { return h != nullptr; }
  static void close(Type h) noexcept { CertCloseStore(h, 0); }
};

struct CryptMsgTraits {
  using Type = HCRYPTMSG;
  static Type none() noexcept { return nullptr; }
  static bool valid(Type h) noexcept { return h != nullptr; }
  static void close(Type h) noexcept { CryptMsgClose(h); }
};

struct CertContextTraits {
  using Type = PCCERT_CONTEXT;
  static Type none() noexcept { return nullptr; }
  static bool valid(Type h) noexcept { return h != nullptr; }
  static void close(Type h) noexcept { CertFreeCertificateContext(h); }
};

}  // namespace

bool verifyPublisherSignature(const std::wstring& path, std::string_view pinnedThumbprint) {
  return checkSignature(path, pinnedThumbprint, nullptr);
}

bool verifyPublisherSignature(const std::wstring& path) {
  return verifyPublisherSignature(path, kPinnedSignerThumbprint);
}

bool verifyPublisherSignature(const std::wstring& path, std::string_view pinnedThumbprint,
                              SignerReport& report) {
  report = SignerReport{};
  return checkSignature(path, pinnedThumbprint, &report);
}

EmbeddedSigner readEmbeddedSigner(const std::wstring& path) {
  HCERTSTORE rawStore = nullptr;
  HCRYPTMSG rawMessage = nullptr;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        /* dwFlags */ 0, /* pdwMsgAndCertEncodingType */ nullptr,
                        /* pdwContentType */ nullptr, /* pdwFormatType */ nullptr, &rawStore,
                        &rawMessage, /* ppvContext */ nullptr)) {
    return {};
  }
  const UniqueResource<CertStoreTraits> store(rawStore);
  const UniqueResource<CryptMsgTraits> message(rawMessage);

  DWORD size = 0;
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) ||
      size == 0) {
    return {};
  }
  std::vector<BYTE> info(size);
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) {
    return {};
  }
  const UniqueResource<CertContextTraits> certificate(
      CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                 CERT_FIND_SUBJECT_CERT, info.data(), nullptr));
  if (!certificate.valid()) return {};
  return {thumbprintOf(certificate.get()), subjectOf(certificate.get())};
}
