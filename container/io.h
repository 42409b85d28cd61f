#pragma once
// Where the container format reads and writes bytes: a file in the engines, memory in
// tests and fuzzing. Both report status codes as FileHandle does.

#include <cstddef>
#include <cstdint>
#include <vector>

class FileHandle;

class ContainerSource {
 public:
  virtual ~ContainerSource() = default;
  virtual uint32_t GetSize(uint64_t* size) = 0;
  // One read of up to count bytes; *read < count only at the end of the data.
  virtual uint32_t Read(void* buffer, uint32_t count, uint32_t* read) = 0;
  // Back to the first byte, to read the data once more.
  virtual uint32_t Rewind() = 0;
};

class ContainerSink {
 public:
  virtual ~ContainerSink() = default;
  // Writes all count bytes or fails.
  virtual uint32_t Write(const void* buffer, uint32_t count) = 0;
};

class FileSource : public ContainerSource {
 public:
  explicit FileSource(FileHandle& file) : m_file(file) {}
  uint32_t GetSize(uint64_t* size) override;
  uint32_t Read(void* buffer, uint32_t count, uint32_t* read) override;
  uint32_t Rewind() override;

 private:
  FileHandle& m_file;
};

// Writes through FileHandle, one call per chunk; a write that makes no progress is the
// disk-full error.
class FileSink : public ContainerSink {
 public:
  explicit FileSink(FileHandle& file) : m_file(file) {}
  uint32_t Write(const void* buffer, uint32_t count) override;

 private:
  FileHandle& m_file;
};

class MemorySource : public ContainerSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  uint32_t GetSize(uint64_t* size) override;
  uint32_t Read(void* buffer, uint32_t count, uint32_t* read) override;
  uint32_t Rewind() override {
    m_position = 0;
    return 0;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_position = 0;
};

class MemorySink : public ContainerSink {
 public:
  uint32_t Write(const void* buffer, uint32_t count) override;
  std::vector<uint8_t> bytes;
};
