// The record of the archive's entries beside it, "Tandrel.zip.files" (system/entry_record.h
// gives the format): written by pack, signed with the statement, checked by check.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "publish/release_check.h"
#include "system/entry_record.h"

// The record of the archive as it lies: every entry's local record with its SHA-256 and its
// uncompressed bytes' size and SHA-256, read and inflated in pieces. Raises Exception as the
// launcher's reader would when the archive cannot be read.
TEntryRecord RecordArchive(TZipSource& archive, const std::string& archiveSha256);

// Writes dir/Tandrel.zip.files, unsigned, for dir/Tandrel.zip.
void WriteEntryRecordFile(const std::filesystem::path& dir);

// What launchers will make of dir/Tandrel.zip.files: whether it is well formed and describes
// dir/Tandrel.zip exactly. No record: no finding (launchers then download the whole archive).
std::vector<TFinding> CheckEntryRecord(const std::filesystem::path& dir);
// Whether the record is signed by the key point (the 64 bytes X || Y of a public key).
std::vector<TFinding> CheckEntryRecordSignature(const std::filesystem::path& dir, const std::string& point);
