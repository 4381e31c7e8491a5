#include "common/sha256.h"

#include "common/not_available.h"

std::string sha256File(const std::wstring&) { notAvailable("sha256File"); }
