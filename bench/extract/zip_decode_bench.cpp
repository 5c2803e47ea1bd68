// Decodes every entry of an archive through the portable zip reader (inflation and CRC-32
// checks included) and writes nothing; prints the time it took and what it decoded.
//   zip_decode_bench <archive>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "system/errors.h"
#include "system/text.h"
#include "system/zip_core.h"

namespace {
class TFileSource final : public TZipSource {
 public:
  explicit TFileSource(int fd) : FFd(fd) {
    struct stat st {};
    fstat(fd, &st);
    FSize = st.st_size;
  }
  int64_t Size() override { return FSize; }
  size_t ReadAt(int64_t offset, void* data, size_t count) override {
    size_t total = 0;
    while (total < count) {
      const ssize_t n = pread(FFd, static_cast<char*>(data) + total, count - total, offset + static_cast<int64_t>(total));
      if (n <= 0) break;
      total += static_cast<size_t>(n);
    }
    return total;
  }

 private:
  int FFd;
  int64_t FSize = 0;
};

class TCountingOutput final : public TZipOutput {
 public:
  void MakeFolder(const TZipItem&) override {}
  void BeginFile(const TZipItem&) override { ++Files; }
  void Write(const void*, size_t count) override { Bytes += count; }
  void CloseFile() override {}
  void FinishFile(const TZipItem&) override {}
  long long Files = 0, Bytes = 0;
};
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zip_decode_bench <archive>\n");
    return 2;
  }
  const int fd = open(argv[1], O_RDONLY);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  TFileSource source(fd);
  TCountingOutput output;
  const auto began = std::chrono::steady_clock::now();
  try {
    ExtractZip(source, output);
  } catch (const Exception& e) {
    std::fprintf(stderr, "decoding failed: %s\n", EncodeUtf8(e.Message()).c_str());
    return 1;
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
  close(fd);
  std::printf("seconds %.3f files %lld bytes %lld\n", took.count(), output.Files, output.Bytes);
  return 0;
}
