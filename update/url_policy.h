#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The transport policy of every transfer, on the parts of a URL as the platform cracked them.
// No Windows header here: these decisions are tested (and can be built) without the platform.

enum class UrlScheme { Other, Http, Https };

// A URL may carry neither a user name nor a password.
bool carriesCredentials(std::size_t userNameLength, std::size_t passwordLength);

// https to any host; plain http only to this machine, named exactly "127.0.0.1" or "localhost".
bool isAllowedTransport(UrlScheme scheme, std::wstring_view host);

// What the request asks for: the path followed directly by the query (question mark included),
// or "/" when both are empty.
std::wstring objectName(std::wstring_view path, std::wstring_view extraInfo);
