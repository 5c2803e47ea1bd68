#include "system/stream.h"

#include <algorithm>
#include <cstring>

void TMemoryStream::Write(const void* data, size_t count) {
  if (FPosition + count > FData.size()) FData.resize(FPosition + count);
  if (count) std::memcpy(&FData[FPosition], data, count);
  FPosition += count;
}

size_t TMemoryStream::Read(void* data, size_t count) {
  const size_t n = FPosition < FData.size() ? std::min(count, FData.size() - FPosition) : 0;
  if (n) std::memcpy(data, FData.data() + FPosition, n);
  FPosition += n;
  return n;
}

void TMemoryStream::Seek(int64_t position) {
  FPosition = static_cast<size_t>(std::max<int64_t>(0, position));
}

void TMemoryStream::SetSize(int64_t size) {
  FData.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
  FPosition = std::min(FPosition, FData.size());
}
