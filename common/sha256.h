#pragma once

#include <string>

// SHA-256 of a file's whole content as 64 lower-case hexadecimal digits.
std::string sha256File(const std::wstring& path);
