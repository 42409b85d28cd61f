#pragma once
// Reads a file ahead of the code that uses it, on a work queue's thread: while the caller
// works on one chunk, the next is being read. The reads are the ones a plain loop
// would make (one FileHandle::Read of up to kChunk bytes each, in file order, until
// `size` bytes have come), so a failure comes at the same chunk it would have. Small
// reads are made at once on the caller's thread.

#include <cstdint>
#include <vector>

#include "platform/work_queue.h"

class FileHandle;

class ReadAhead {
 public:
  static constexpr uint32_t kChunk = 1 << 20;

  ReadAhead(FileHandle& file, uint64_t size, WorkQueue& queue);
  // Waits for the reads still under way and wipes the chunks.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next chunk: *data and *length stay valid until the next call. Returns the status
  // of its read; a read that found the end of the file before `size` bytes had come gives
  // EndOfFileError(). *length is 0 (status 0) once all `size` bytes have been delivered.
  uint32_t Next(const uint8_t** data, uint32_t* length);

 private:
  static constexpr unsigned kInFlight = 1;  // chunks read ahead of the one in use: more
                                            // measured no faster

  struct Chunk {
    std::vector<uint8_t> bytes;
    FileHandle* file = nullptr;
    uint32_t want = 0, got = 0, status = 0;
    WorkQueue::Ticket ticket = 0;
  };
  static void Read(void* chunk);
  void Plan();

  FileHandle& m_file;
  WorkQueue& m_queue;
  uint64_t m_unplanned;  // bytes no read has been asked for yet
  Chunk m_chunks[kInFlight + 1];
  uint64_t m_planned = 0;  // reads handed out, in total
  uint64_t m_used = 0;     // chunks delivered, in total
};
