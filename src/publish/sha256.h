// SHA-256 of bytes and of files: the system's CNG on Windows (system/sha256.h), libcrypto elsewhere.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

// Fed piece by piece; raises Exception when hashing fails.
class TSha256Stream {
 public:
  TSha256Stream();
  ~TSha256Stream();
  void Update(const void* data, size_t count);
  // Lower-case hexadecimal, as the cloud listing shows it; the object is spent after.
  std::wstring HexDigest();

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

std::wstring Sha256Hex(std::string_view bytes);
// The file read in pieces; raises with the path and the system's reason when it cannot be read.
std::wstring Sha256OfFile(const std::filesystem::path& path);
