#pragma once

#include <string>
#include <string_view>

// Quotes one argument so that CommandLineToArgvW gives back exactly `text`. The result is always
// enclosed in quotation marks; only backslashes and quotation marks are escaped.
std::wstring quoteArgument(std::wstring_view text);
