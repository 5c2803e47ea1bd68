// The publisher's key and the signed statement beside the release archive
// (system/release_statement.h gives the file formats). ECDSA P-256 with SHA-256: libcrypto on
// Linux, the system's CNG on Windows; a signature made by either verifies with the other.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "publish/release_check.h"

// The private key file: one line, "ecdsa-p256-private:" and the base64 of X || Y || d.
struct TPublisherKey {
  std::string Point;    // X || Y, 64 bytes
  std::string Private;  // d, 32 bytes
  ~TPublisherKey();
};

// Writes a new private key to path, readable by its owner only (on Windows the file takes the
// default access of its folder: keep it in a folder of your own). Never replaces a file.
// Returns the public key line.
std::string GenerateKeyFile(const std::filesystem::path& path);
TPublisherKey ReadPrivateKeyFile(const std::filesystem::path& path);

std::string SignStatement(const TPublisherKey& key, std::string_view message);
bool VerifyStatement(std::string_view point, std::string_view message, std::string_view signature);

// Writes dir/Tandrel.zip.sig for the Tandrel.zip, version.txt and Changes.txt in dir.
void SignReleaseFolder(const std::filesystem::path& dir, const TPublisherKey& key);

// What the launcher holding the key publicKeyLine will say of the folder's signature file
// (nullopt: the file is missing).
std::vector<TFinding> CheckSignature(const TReleaseFiles& files, const std::optional<std::string>& signatureFile,
                                     const std::string& publicKeyLine);

// version.txt as the launcher reads it: without a UTF-8 byte-order mark, trimmed of every
// character up to U+0020 at both ends; nullopt when it is not UTF-8.
std::optional<std::string> PublishedVersionText(std::string_view versionFile);
