// SHA-256 through the system's cryptography (CNG), fed piece by piece.
#pragma once

#include <cstddef>
#include <string>

#include "system/handles.h"

class TSha256 {
 public:
  // Raises Exception when the system offers no SHA-256.
  TSha256();
  void Update(const void* data, size_t count);
  // The digest of everything fed so far as 64 lower-case hex digits; the object is spent after.
  std::wstring HexDigest();

 private:
  Sys::TCngAlgorithm FAlgorithm;
  std::string FObject;  // the hash object's memory, owned here as CNG asks
  Sys::TCngHash FHash;
};
