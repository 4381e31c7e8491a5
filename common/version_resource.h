#pragma once

#include <string>

// One string of a file's version resource (first translation only), trailing white space removed;
// empty when the file, the resource or the value is missing.
std::wstring readVersionString(const std::wstring& path, const std::wstring& name);
