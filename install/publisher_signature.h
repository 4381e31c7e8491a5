#pragma once

#include <string>
#include <string_view>

// True when the file carries a valid embedded Authenticode signature whose signer certificate has
// the given SHA-1 thumbprint (compared without case). Every negative outcome is false.
bool verifyPublisherSignature(const std::wstring& path, std::string_view pinnedThumbprint);

// The same against the publisher pinned in this build.
bool verifyPublisherSignature(const std::wstring& path);
