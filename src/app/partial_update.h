// An update that fetches only what differs from the installed product: with the publisher's
// record of the archive's entries (system/entry_record.h), the entries whose installed file is
// missing or holds other bytes are downloaded as byte ranges of the same archive, together
// with its directory, into a sparse "Update.zip", and each is checked against the record
// before anything can install it. Whenever this cannot serve, the whole archive is downloaded
// as before; that is no failure.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "release/downloader.h"
#include "system/entry_record.h"

// What the job knows when the download begins.
struct TEntryUpdateSource {
  std::wstring FolderLink;
  std::wstring PackageName;   // "Tandrel.zip"
  std::wstring Url;           // the archive's direct link
  int64_t Size = -1;          // the archive as it must be: the signed or listed size...
  std::wstring Sha256;        // ...and SHA-256 (empty: unknown, so no entry is taken on trust)
  std::wstring InstallDir;    // the product folder, ending with "\"
  std::wstring PackagePath;   // "Update.zip" in it
  TParallelProgressEvent OnProgress;
};

// On the job thread: fetches the entries that differ into PackagePath and checks them; returns
// the local header offsets of the entries to install (for ExtractPackageEntries), or nullopt
// when the whole archive must be downloaded instead (nothing installed, no usable record, a
// host without ranges, too much changed, a range that failed or did not check). Never raises.
// downloader keeps the downloader that ran alive: its progress reports may still be queued.
std::optional<std::vector<uint64_t>> DownloadChangedEntries(const TEntryUpdateSource& source,
                                                            std::unique_ptr<TParallelDownloader>& downloader);

// The indices of the record's entries whose file (or folder) the product folder lacks or holds
// with other bytes: a file of the recorded size is read whole and hashed. Raises when an
// entry's name could not be installed there.
std::vector<size_t> ChangedEntries(const TEntryRecord& record, const std::wstring& installDir);

// The part of the archive above which the full download is taken instead.
inline constexpr double kMostChangedShare = 0.5;
