#include "common/text_platform.h"

#include <windows.h>

int utf16ToUtf8(const wchar_t* text, int length, char* output, int outputSize, bool strict) {
  return WideCharToMultiByte(CP_UTF8, strict ? WC_ERR_INVALID_CHARS : 0, text, length, output,
                             outputSize, /* lpDefaultChar */ nullptr,
                             /* lpUsedDefaultChar */ nullptr);
}

int utf8ToUtf16(const char* text, int length, wchar_t* output, int outputSize, bool strict) {
  return MultiByteToWideChar(CP_UTF8, strict ? MB_ERR_INVALID_CHARS : 0, text, length, output,
                             outputSize);
}
