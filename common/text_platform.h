#pragma once

#include <cstddef>

// The platform's UTF-8 <-> UTF-16 conversions, with the contract of MultiByteToWideChar and
// WideCharToMultiByte for CP_UTF8: a null `output` asks for the size needed; the result is the
// number of units written (or needed), 0 on failure with the thread's last-error value set. With
// `strict` malformed input fails; without it each malformed sequence becomes U+FFFD (UTF-8 input).
// A wchar_t holds one UTF-16 code unit on every build. The Windows build calls the platform
// (text_win32.cpp); the native build of the platform-free code has its own (native/host_text.cpp).
int utf16ToUtf8(const wchar_t* text, int length, char* output, int outputSize, bool strict);
int utf8ToUtf16(const char* text, int length, wchar_t* output, int outputSize, bool strict);
