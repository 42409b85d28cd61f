#pragma once
// The container format: one encrypted file per container, AES-256-CBC under a random
// bulk key that the container stores encrypted under a key derived from the password
// (version 0: the password key itself), authenticated with HMAC-SHA-256.
//
//   version 2:  "AES" 2 0 | extensions, ended by a 0 length | file IV (16) |
//               key block (48) | key block MAC (32) | ciphertext (n) | length byte |
//               bulk MAC (32)
//   version 1:  the same without the extension section
//   version 0:  "AES" 0 length-byte | file IV (16) | ciphertext (n) | bulk MAC (32)
//
// The password enters the key derivation as its own bytes (the system's code page), never
// converted. The reader and the writer only format bytes; the engines move files around
// them, report progress and clean up. Every failure is a SystemErrorException carrying
// its kind, code and the container's path. How a stream shares its work between two
// threads is the pipeline's (pipeline.h).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "container/failure.h"
#include "container/io.h"
#include "crypto/aes.h"
#include "crypto/hmac.h"
#include "container/pipeline.h"
#include "platform/work_queue.h"

class Lock;
class PasswordCandidates;

constexpr size_t kFileIvSize = 16;
constexpr size_t kKeySize = 32;
constexpr size_t kMacSize = 32;
constexpr size_t kKeyBlockSize = 48;  // bulk IV (16) followed by bulk key (32)

// Size of a container with an empty ciphertext (and, for version 2, no extensions).
constexpr uint64_t kOverheadV0 = 53;
constexpr uint64_t kOverheadV1 = 134;
constexpr uint64_t kOverheadV2 = 136;
// What the writer adds to the ciphertext: head, its 160-byte extension section, file IV,
// key block and MAC, length byte and bulk MAC.
constexpr uint64_t kWrittenOverhead = 294;

// The password key: 8192 rounds of SHA-256 over (previous digest || password bytes),
// starting from the file IV followed by 16 zero bytes.
void DeriveContainerKey(const uint8_t fileIv[16], const char* password, size_t length,
                        uint8_t key[32]);

struct ContainerLayout {
  uint8_t version = 0;
  uint64_t size = 0;
  uint64_t overhead = 0;      // 53, 134 or 136: what progress counts as not data
  uint64_t cipherLength = 0;  // n, a multiple of 16
  uint8_t lengthByte = 0;     // version 0 only: the byte of the head (low 4 bits count)
  std::vector<std::vector<uint8_t>> extensions;  // only when asked for
};

// Plaintext length of n ciphertext bytes whose length byte is lengthByte.
uint64_t PlaintextLength(uint64_t cipherLength, uint8_t lengthByte);

// Reads one container in the format's order of checks. Call ReadLayout, Unlock, then
// ReadPlaintext until it returns 0, then Finish. Keys are wiped on destruction.
class ContainerReader {
 public:
  // path is used in messages only. lock (may be null) is held around each key schedule
  // build.
  ContainerReader(ContainerSource& source, std::string path, Lock* lock = nullptr);
  ~ContainerReader();
  ContainerReader(const ContainerReader&) = delete;
  ContainerReader& operator=(const ContainerReader&) = delete;

  // Size, head, version, extensions, ciphertext length. Needs no password. Extension
  // contents are kept only when asked for (an extension is otherwise read and dropped).
  const ContainerLayout& ReadLayout(bool keepExtensions = false);

  // The same a piece at a time, for a caller that reports progress or takes a Cancel
  // while a long extension section is read (up to 65,535 extensions of 65,535 bytes):
  // each call reads at most about budget bytes of extensions and returns true once the
  // layout is complete (then layout() holds it). The checks, their order and their
  // failures are ReadLayout's.
  bool ReadLayoutStep(uint64_t budget, bool keepExtensions = false);
  const ContainerLayout& layout() const { return m_layout; }
  // Extension bytes (lengths and contents) read so far: what progress counts of the
  // container's size less its overhead until the ciphertext starts.
  uint64_t LayoutBytesRead() const { return m_layoutRead; }

  // ReadLayout for the engines with a progress view: between two pieces of the extension
  // section, stop(done, total) is told the bytes read of those progress counts and
  // returns true to stop there (Cancel); then false is returned and nothing more is read.
  template <typename Stop>
  bool ReadLayoutUnless(Stop stop, bool keepExtensions = false) {
    while (!ReadLayoutStep(kLayoutPiece, keepExtensions))
      if (stop(m_layoutRead, m_layout.size - m_layout.overhead)) return false;
    return true;
  }
  static constexpr uint64_t kLayoutPiece = 4 << 20;

  // Derives the password key and, for versions 1 and 2, opens the key block. A wrong
  // password fails here for versions 1 and 2 (before any plaintext exists), and only in
  // Finish for version 0.
  void Unlock(const char* password, size_t length);

  // The same with each candidate in turn (none: the empty password); returns the index of
  // the one that opens the container. A wrong password is found here for every version:
  // with several candidates a version 0 container is first read to its end for its MAC
  // (the source is rewound and read again), so nothing is decrypted before a candidate has
  // been found to open it.
  size_t Unlock(const PasswordCandidates& candidates);

  // Reads and decrypts the next ciphertext bytes into out (capacity at least 16) and
  // returns how many plaintext bytes it holds; 0 once the ciphertext is used up. The
  // plaintext is not authenticated until Finish has succeeded.
  size_t ReadPlaintext(uint8_t* out, size_t capacity);

  // Ciphertext bytes not yet read.
  uint64_t CipherRemaining() const { return m_cipherRemaining; }

  // Compares the bulk MAC; throws when it differs.
  void Finish();

 private:
  [[noreturn]] void Fail(FailureKind failure, uint32_t code = 0) const;
  size_t ChooseVersion0(const PasswordCandidates& candidates, const uint8_t fileIv[16]);
  void UsePasswordKey(const uint8_t fileIv[16], const uint8_t key[32]);
  void ReadExact(void* buffer, size_t count, FailureKind failure);

  ContainerSource& m_source;
  std::string m_path;
  Lock* m_lock;
  ContainerLayout m_layout;
  enum class LayoutStage { Head, Extensions, Done } m_layoutStage = LayoutStage::Head;
  uint64_t m_layoutRead = 0;
  AesDecryptContext m_schedule{};
  uint8_t m_chain[16] = {};
  HmacSha256 m_mac;
  uint64_t m_cipherRemaining = 0;
  uint8_t m_lengthByte = 0;
  static void FeedMac(void* piece);

  // Large pieces: ciphertext read here, its MAC on the queue's thread while it is
  // decrypted into the caller's buffer. The queue is declared after the MAC and the
  // pieces its jobs read, so it has finished with them before they go.
  PieceRing m_pieces{m_queue};
  WorkQueue m_queue;
};

// What a password does to a container's key block, found without reading any ciphertext.
enum class PasswordCheck {
  Opens,      // versions 1 and 2: the key block opens
  Wrong,      // versions 1 and 2: the key block's MAC differs (or the block is damaged)
  Undecided,  // version 0: only the bulk MAC, after all the data, can tell
};
// Throws SystemErrorException (path in it) for a container refused before its key block.
PasswordCheck CheckPassword(ContainerSource& source, const std::string& path, const char* password,
                            size_t length);
// The same for several candidates: Opens when one of them opens the key block; which
// (when given) then receives the first that does.
PasswordCheck CheckPassword(ContainerSource& source, const std::string& path, const PasswordCandidates& candidates,
                            size_t* which = nullptr);

// Writes one version 2 container. Call WriteHead, WritePlaintext any number of times,
// then Finish. A write failure throws with the message for the output path.
class ContainerWriter {
 public:
  // queue: the thread for the MACs and writes of large slices, which the caller may share
  // with work of its own (its jobs then run in turn with the writer's); null: the
  // writer's own.
  ContainerWriter(ContainerSink& sink, std::string path, Lock* lock = nullptr,
                  WorkQueue* queue = nullptr);
  ~ContainerWriter();
  ContainerWriter(const ContainerWriter&) = delete;
  ContainerWriter& operator=(const ContainerWriter&) = delete;

  // Head, extension section, file IV, key block and its MAC. bulkIvAndKey holds the bulk
  // IV followed by the bulk key; the caller wipes its copy.
  void WriteHead(const uint8_t fileIv[16], const uint8_t bulkIvAndKey[48], const char* password,
                 size_t length);
  // Any number of bytes; a partial block waits for the next call or Finish.
  void WritePlaintext(const uint8_t* data, size_t length);
  // The last block (completed with zeros), the length byte and the bulk MAC.
  void Finish();
  // Returns once every slice handed over is written; throws if a write failed. A caller
  // about to fail for another reason calls this first, so a write that failed earlier is
  // the failure reported, as it would have been without a second thread.
  void Settle();

 private:
  void WriteOrFail(const void* data, size_t length, FailureKind failure);
  void ThrowIfWriteFailed(uint32_t status) const;
  void EncryptAndWrite(const uint8_t* data, size_t blocks);
  static void MacAndWrite(void* piece);

  ContainerSink& m_sink;
  std::string m_path;
  Lock* m_lock;
  AesEncryptContext m_schedule{};
  uint8_t m_chain[16] = {};
  HmacSha256 m_mac;
  uint8_t m_pending[16] = {};
  size_t m_pendingLength = 0;
  uint64_t m_plaintextLength = 0;
  // Ciphertext slices, MACed and written on the queue's thread; the first write that
  // failed there stops the rest and is this file's failure, raised at the next
  // hand-over.
  std::atomic<uint32_t> m_writeStatus{0};
  WorkQueue m_ownQueue;  // unused when the caller gives one
  WorkQueue& m_queue;
  PieceRing m_slices{m_queue};
};
