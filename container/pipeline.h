#pragma once
// How one container's stream keeps two cores busy: the caller runs the cipher's chain
// while a work queue's thread takes the rest of each piece (the MAC; for the writer also
// the write; for the encryption engine also the reading of its source ahead). Every
// piece still goes through the MAC and the file in order, so the bytes, the checks and
// the failures are those of one piece at a time.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/work_queue.h"

class FileHandle;

// A piece of data that a job on the queue reads (its MAC; for the writer, also its
// write) while the caller goes on with the next piece.
struct QueuedPiece {
  std::vector<uint8_t> bytes;
  size_t length = 0;
  void* owner = nullptr;
  WorkQueue::Ticket ticket = 0;  // the job that reads it: free again once that has run
};

// The pieces in flight, taken in turn: one for the queue's thread, one for the caller.
// Deeper rings measured slower, not faster: the extra memory in flight pushes the
// cipher's own data out of the caches (the table-driven cipher lost a fifth).
class PieceRing {
 public:
  static constexpr unsigned kPieces = 2;

  // The pieces hold ciphertext only, which needs no wiping.
  explicit PieceRing(WorkQueue& queue) : m_queue(queue) {}
  PieceRing(const PieceRing&) = delete;
  PieceRing& operator=(const PieceRing&) = delete;

  // The next piece, once the queue's job on it has run, with room for size bytes.
  QueuedPiece& Take(size_t size);
  // Hands the piece's first length bytes to job(&piece) on the queue.
  void Submit(QueuedPiece& piece, size_t length, void* owner, void (*job)(void*));

 private:
  WorkQueue& m_queue;
  QueuedPiece m_pieces[kPieces];
  unsigned m_next = 0;
};

// Reads a file ahead of the code that uses it, on a work queue's thread: while the caller
// works on one chunk, the next is being read. The reads are the ones a plain loop
// would make (one FileHandle::Read of up to kChunk bytes each, in file order, until
// `size` bytes have come), so a failure comes at the same chunk it would have. Small
// reads are made at once on the caller's thread.

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
