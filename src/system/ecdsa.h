// ECDSA on P-256 with SHA-256 through the system's cryptography (CNG). Keys and signatures in
// their raw forms: a public key is X || Y, a private key d, a signature r || s, each number 32
// bytes big-endian.
#pragma once

#include <string>
#include <string_view>

// True when signature is a valid signature of message by the key point. A point that is not on
// the curve, or a signature of the wrong length, verifies nothing. Raises Exception only when
// the system offers no ECDSA at all.
bool VerifyP256(std::string_view point, std::string_view message, std::string_view signature);

struct TP256KeyPair {
  std::string Point;    // X || Y, 64 bytes
  std::string Private;  // d, 32 bytes
};
// A new key pair from the system's random source; raises Exception on failure.
TP256KeyPair GenerateP256();
// The 64-byte r || s of message; raises Exception when the key is refused.
std::string SignP256(const TP256KeyPair& key, std::string_view message);
// The raw SHA-256 digest (32 bytes).
std::string Sha256Digest(std::string_view bytes);
