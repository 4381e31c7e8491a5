#pragma once

#include <string>
#include <string_view>

// Strict conversions between UTF-16 (platform) and UTF-8 (JSON, log, failure texts). Both work on
// the given length, so an embedded NUL is converted like any other character; invalid input fails
// with UserError "Invalid Unicode text" / "Invalid UTF-8 text".
std::string toUtf8(std::wstring_view text);
std::wstring toUtf16(std::string_view text);

// For failure texts only: like toUtf16, but a malformed sequence becomes U+FFFD instead of failing,
// so that a handler can always show and record a failure whose text came from elsewhere.
std::wstring toUtf16Lenient(std::string_view text);
