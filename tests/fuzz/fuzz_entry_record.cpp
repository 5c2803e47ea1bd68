// The record of the archive's entries as it comes from the cloud folder. A record that is read
// must be the one form its content has, keep its entries in order and inside the archive, and
// keep its signed bytes as its own beginning.
#include <cstddef>
#include <cstdint>
#include <string>

#include "system/entry_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const auto parsed = ParseEntryRecord(bytes);
  if (!parsed) return 0;
  const std::string lines = FormatEntryRecord(*parsed);
  if (parsed->Signature.empty()) {
    if (lines != bytes || parsed->SignedBytes != bytes) __builtin_trap();
  } else {
    if (parsed->Signature.size() != 64 || lines != parsed->SignedBytes) __builtin_trap();
    if (lines + FormatEntryRecordSignature(parsed->Signature) != bytes) __builtin_trap();
  }
  uint64_t next = 0;
  for (const TRecordedEntry& e : parsed->Entries) {
    if (e.Offset < next || e.Offset + e.Length > parsed->DirectoryOffset) __builtin_trap();
    next = e.Offset + e.Length;
  }
  if (parsed->DirectoryOffset + parsed->DirectoryLength != parsed->ArchiveSize) __builtin_trap();
  return 0;
}
