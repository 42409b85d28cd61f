#include "container/io.h"

#include <cstring>

#include "platform/file_handle.h"
#include "platform/system_error.h"

uint32_t FileSource::GetSize(uint64_t* size) {
  int64_t s = 0;
  const uint32_t status = m_file.GetSize(&s);
  if (status == 0) *size = static_cast<uint64_t>(s);
  return status;
}

uint32_t FileSource::Read(void* buffer, uint32_t count, uint32_t* read) {
  return m_file.Read(buffer, count, read);
}

uint32_t FileSource::Rewind() { return m_file.Seek(0); }

uint32_t FileSink::Write(const void* buffer, uint32_t count) {
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    uint32_t written = 0;
    const uint32_t status = m_file.Write(p, count, &written);
    if (status != 0) return status;
    if (written == 0) return DiskFullError();
    p += written;
    count -= written;
  }
  return 0;
}

uint32_t MemorySource::GetSize(uint64_t* size) {
  *size = m_size;
  return 0;
}

uint32_t MemorySource::Read(void* buffer, uint32_t count, uint32_t* read) {
  const size_t n = count < m_size - m_position ? count : m_size - m_position;
  if (n) std::memcpy(buffer, m_data + m_position, n);
  m_position += n;
  *read = static_cast<uint32_t>(n);
  return 0;
}

uint32_t MemorySink::Write(const void* buffer, uint32_t count) {
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  bytes.insert(bytes.end(), p, p + count);
  return 0;
}
