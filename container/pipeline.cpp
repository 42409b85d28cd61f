#include "container/pipeline.h"

#include "crypto/secure.h"
#include "platform/file_handle.h"
#include "platform/system_error.h"

QueuedPiece& PieceRing::Take(size_t size) {
  QueuedPiece& piece = m_pieces[m_next];
  m_next = (m_next + 1) % kPieces;
  m_queue.Wait(piece.ticket);
  if (piece.bytes.size() < size) piece.bytes.resize(size);
  return piece;
}

void PieceRing::Submit(QueuedPiece& piece, size_t length, void* owner, void (*job)(void*)) {
  piece.length = length;
  piece.owner = owner;
  piece.ticket = m_queue.Submit(job, &piece);
}

ReadAhead::ReadAhead(FileHandle& file, uint64_t size, WorkQueue& queue)
    : m_file(file), m_queue(queue), m_unplanned(size) {
  Plan();
}

ReadAhead::~ReadAhead() {
  for (Chunk& chunk : m_chunks) {
    m_queue.Wait(chunk.ticket);
    if (!chunk.bytes.empty()) SecureWipe(chunk.bytes.data(), chunk.bytes.size());
  }
}

void ReadAhead::Read(void* p) {
  Chunk& chunk = *static_cast<Chunk*>(p);
  chunk.got = 0;
  chunk.status = chunk.file->Read(chunk.bytes.data(), chunk.want, &chunk.got);
  // A file that ends before its size said has shrunk while it was read.
  if (chunk.status == 0 && chunk.got == 0) chunk.status = EndOfFileError();
}

// Asks for reads until kInFlight are ahead of the chunk in use; the slot each takes was
// last delivered before the one in use, so nobody reads it any more.
void ReadAhead::Plan() {
  while (m_unplanned > 0 && m_planned - m_used < kInFlight) {
    Chunk& chunk = m_chunks[m_planned % (kInFlight + 1)];
    chunk.want = static_cast<uint32_t>(m_unplanned < kChunk ? m_unplanned : kChunk);
    chunk.file = &m_file;
    if (chunk.bytes.size() < chunk.want) chunk.bytes.resize(chunk.want);
    m_unplanned -= chunk.want;
    ++m_planned;
    if (chunk.want >= WorkQueue::kWorthwhileBytes) {
      chunk.ticket = m_queue.Submit(&ReadAhead::Read, &chunk);
    } else {
      m_queue.WaitAll();  // the file is read in order
      Read(&chunk);
    }
  }
}

uint32_t ReadAhead::Next(const uint8_t** data, uint32_t* length) {
  *data = nullptr;
  *length = 0;
  if (m_used == m_planned) return 0;
  Chunk& chunk = m_chunks[m_used % (kInFlight + 1)];
  m_queue.Wait(chunk.ticket);
  ++m_used;
  if (chunk.status != 0) return chunk.status;
  // A short read leaves its rest to a later one, as a plain loop would.
  m_unplanned += chunk.want - chunk.got;
  *data = chunk.bytes.data();
  *length = chunk.got;
  Plan();
  return 0;
}
