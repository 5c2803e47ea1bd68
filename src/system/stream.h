// Byte streams: the sink of an HTTP answer, a part file, a buffer in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TStream {
 public:
  virtual ~TStream() = default;
  // Writes all bytes at the current position or raises.
  virtual void Write(const void* data, size_t count) = 0;
  // Reads up to count bytes at the current position; returns how many were read.
  virtual size_t Read(void* data, size_t count) = 0;
  virtual int64_t Size() = 0;
  virtual int64_t Position() = 0;
  virtual void Seek(int64_t position) = 0;
  // Cuts or extends the stream to size; the position moves to the new end when it lay past it.
  virtual void SetSize(int64_t size) = 0;
};

class TMemoryStream final : public TStream {
 public:
  void Write(const void* data, size_t count) override;
  size_t Read(void* data, size_t count) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }
  int64_t Position() override { return static_cast<int64_t>(FPosition); }
  void Seek(int64_t position) override;
  void SetSize(int64_t size) override;
  const std::string& Data() const { return FData; }

 private:
  std::string FData;
  size_t FPosition = 0;
};
