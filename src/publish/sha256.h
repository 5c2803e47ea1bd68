// SHA-256 of a byte string: the system's CNG on Windows (system/sha256.h), libcrypto elsewhere.
#pragma once

#include <string>
#include <string_view>

// Lower-case hexadecimal, as the cloud listing shows it; raises Exception when hashing fails.
std::wstring Sha256Hex(std::string_view bytes);
