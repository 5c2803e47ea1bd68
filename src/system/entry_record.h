// The publisher's record of where every entry of the release archive lies and what it holds,
// kept beside the archive as "Tandrel.zip.files". With it a launcher that already has the
// product installed fetches only the entries whose files differ, as byte ranges of the same
// archive. Portable: the file comes from the cloud folder and is untrusted until it is tied to
// the release (its signature, or the listing's SHA-256 of the file when the folder is unsigned).
//
// Strict UTF-8 with LF line ends, at most kMaxEntryRecordFile bytes, in this order:
//
//   morvane-files 1
//   archive: <size> <sha256>                 (Tandrel.zip: bytes and SHA-256)
//   directory: <offset> <length> <sha256>    (the central directory up to the end of the file)
//   entry: <offset> <length> <sha256> <size> <content-sha256> <name>   (one per entry)
//   ...
//   signature: <base64 of r || s>            (signed releases only)
//
// Numbers are decimal without leading zeros; SHA-256 values are 64 lower-case hex digits. An
// entry's <offset> and <length> cover its local header, name, extra field and compressed data
// (its whole local record), <sha256> is of those bytes as they lie in the archive, <size> and
// <content-sha256> are of the entry's uncompressed bytes, and <name> is the rest of the line:
// the entry's name bytes as the archive's directory holds them ("/" between folders, a folder
// ends with "/"). Entries follow the directory's order, which is also the order of their
// offsets; they do not overlap and all lie before the directory, which ends the archive.
//
// The signature, when present, is the publisher's ECDSA P-256 / SHA-256 signature (r || s, as in
// release_statement.h) of every byte before the "signature: " line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/zip_core.h"

inline constexpr char kEntryRecordName[] = "Tandrel.zip.files";
inline constexpr size_t kMaxEntryRecordFile = 32 * 1024 * 1024;

struct TRecordedEntry {
  uint64_t Offset = 0;   // of the local header
  uint64_t Length = 0;   // of the whole local record
  std::string Sha256;    // of the local record's bytes
  uint64_t Size = 0;     // uncompressed
  std::string ContentSha256;
  std::string Name;      // the directory's name bytes
  bool IsFolder() const { return !Name.empty() && Name.back() == '/'; }
};

struct TEntryRecord {
  uint64_t ArchiveSize = 0;
  std::string ArchiveSha256;
  uint64_t DirectoryOffset = 0;
  uint64_t DirectoryLength = 0;
  std::string DirectorySha256;
  std::vector<TRecordedEntry> Entries;
  std::string SignedBytes;  // every line before the signature line, as in the file
  std::string Signature;    // 64 bytes r || s; empty when the record is not signed
};

// The lines without the signature; raises Exception when a field cannot be written in the
// strict form or the entries break the rules above.
std::string FormatEntryRecord(const TEntryRecord& record);
// The signature line that follows the formatted lines.
std::string FormatEntryRecordSignature(std::string_view signature);
// nullopt with the reason (English, for the publisher) when the file is not in the strict form.
std::optional<TEntryRecord> ParseEntryRecord(std::string_view file, std::string* reason = nullptr);

// Whether the archive's directory (read from the verified directory bytes) is the one the
// record describes: the same entries in the same order, each at its recorded offset under its
// recorded name, with its recorded uncompressed size. nullopt when it is; the reason otherwise.
std::optional<std::string> RecordMismatch(const TEntryRecord& record, const std::vector<TZipItem>& directory);
