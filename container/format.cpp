#include "container/format.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "container/password_rule.h"
#include "container/system_error_exception.h"
#include "crypto/secure.h"
#include "crypto/sha256.h"
#include "platform/lock.h"
#include "platform/system_error.h"

namespace {

constexpr uint32_t kDerivationRounds = 8192;

// Plaintext is encrypted and written in slices of this size: one write call each. Two
// of them in flight keep both cores busy; two of 256 KiB measured a seventh slower.
constexpr size_t kWriteSlice = 512 * 1024;

uint32_t Clamp32(size_t n) { return n > 0xFFFFFFF0u ? 0xFFFFFFF0u : static_cast<uint32_t>(n); }

// The extension section this writer always puts after the head: CREATED_BY with the
// product's name and version, a 128-byte empty extension, and the end mark.
std::vector<uint8_t> WrittenExtensionSection() {
  static const char kTag[] = "CREATED_BY";
  static const char kProduct[] = "TARVESSIN";
  static const char kVersion[] = "KVT 3";
  std::vector<uint8_t> s;
  const size_t first = std::strlen(kVersion) + std::strlen(kProduct) + 12;
  if (first < 256) {
    s.push_back(0);
    s.push_back(static_cast<uint8_t>(first));
    s.insert(s.end(), kTag, kTag + sizeof kTag);  // with its terminator
    const std::string text = std::string(kProduct) + " " + kVersion;
    s.insert(s.end(), text.begin(), text.end());
  }
  s.push_back(0x00);
  s.push_back(0x80);
  s.insert(s.end(), 128, 0);
  s.push_back(0);
  s.push_back(0);
  return s;
}

}  // namespace

void DeriveContainerKey(const uint8_t fileIv[16], const char* password, size_t length,
                        uint8_t key[32]) {
  uint8_t digest[32] = {};
  std::memcpy(digest, fileIv, 16);
  Sha256Context ctx;
  for (uint32_t i = 0; i < kDerivationRounds; ++i) {
    ctx.Init();
    ctx.Update(digest, 32);
    ctx.Update(password, length);
    ctx.Final(digest);
  }
  std::memcpy(key, digest, 32);
  SecureWipe(digest, sizeof digest);
  SecureWipe(&ctx, sizeof ctx);
}

uint64_t PlaintextLength(uint64_t cipherLength, uint8_t lengthByte) {
  if (cipherLength == 0) return 0;
  const unsigned last = lengthByte & 15u;
  return cipherLength - 16 + (last ? last : 16);
}

// ---------------------------------------------------------------------------------------
// Reader

ContainerReader::ContainerReader(ContainerSource& source, std::string path, Lock* lock)
    : m_source(source), m_path(std::move(path)), m_lock(lock) {}

ContainerReader::~ContainerReader() {
  SecureWipe(&m_schedule, sizeof m_schedule);
  SecureWipe(m_chain, sizeof m_chain);
}

void ContainerReader::Fail(FailureKind failure, uint32_t code) const {
  throw SystemErrorException(failure, code, m_path);
}

// All sizes come from the container's size, so a short read means the file shrank while
// it was read: that is reported as a read failure rather than taken for data.
void ContainerReader::ReadExact(void* buffer, size_t count, FailureKind failure) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    uint32_t got = 0;
    const uint32_t status = m_source.Read(p, Clamp32(count), &got);
    if (status != 0) Fail(failure, status);
    if (got == 0) Fail(failure, EndOfFileError());
    p += got;
    count -= got;
  }
}

const ContainerLayout& ContainerReader::ReadLayout(bool keepExtensions) {
  while (!ReadLayoutStep(kLayoutPiece, keepExtensions)) {
  }
  return m_layout;
}

bool ContainerReader::ReadLayoutStep(uint64_t budget, bool keepExtensions) {
  ContainerLayout& l = m_layout;
  if (m_layoutStage == LayoutStage::Done) return true;
  if (m_layoutStage == LayoutStage::Head) {
    const uint32_t status = m_source.GetSize(&l.size);
    if (status != 0) Fail(FailureKind::SizeUnknown, status);
    if (l.size < kOverheadV0) Fail(FailureKind::TooSmall);

    uint8_t head[5];
    ReadExact(head, sizeof head, FailureKind::HeadUnreadable);
    if (std::memcmp(head, "AES", 3) != 0) Fail(FailureKind::BadSignature);
    l.version = head[3];
    if (l.version > 2) Fail(FailureKind::BadVersion);

    if (l.version == 0) {
      l.overhead = kOverheadV0;
      l.lengthByte = head[4];
    } else if (l.version == 1) {
      if (l.size < kOverheadV1) Fail(FailureKind::TooSmall);
      l.overhead = kOverheadV1;
    } else {
      if (l.size < kOverheadV2) Fail(FailureKind::TooSmallV2);
      l.overhead = kOverheadV2;
    }
    l.cipherLength = l.size - l.overhead;
    m_layoutStage = LayoutStage::Extensions;
  }

  if (l.version == 2) {
    // Each extension is bounded by what is left of the container, so a length field can
    // neither make the reader run past the end nor keep it going for ever.
    std::vector<uint8_t> content;
    for (uint64_t used = 0;; used += 2) {
      if (used >= budget) return false;
      uint8_t be[2];
      ReadExact(be, 2, FailureKind::ExtensionLengthUnreadable);
      const uint64_t length = static_cast<uint64_t>(be[0]) << 8 | be[1];
      if (length == 0) break;
      if (length + 2 > l.cipherLength) Fail(FailureKind::TooSmallV2);
      l.cipherLength -= length + 2;
      content.resize(static_cast<size_t>(length));
      ReadExact(content.data(), content.size(), FailureKind::ExtensionUnreadable);
      if (keepExtensions) l.extensions.push_back(content);
      used += length;
      m_layoutRead += length + 2;
    }
  }
  if (l.cipherLength % 16 != 0) Fail(FailureKind::BadCipherLength);
  m_cipherRemaining = l.cipherLength;
  m_layoutStage = LayoutStage::Done;
  return true;
}

void ContainerReader::Unlock(const char* password, size_t length) {
  PasswordCandidates one;
  one.Add(password, length);
  Unlock(one);
}

void ContainerReader::UsePasswordKey(const uint8_t fileIv[16], const uint8_t key[32]) {
  {
    LockGuard guard(m_lock);
    AesCipher::SetDecryptKey(key, &m_schedule);
  }
  m_mac.Init(key, kKeySize);
  std::memcpy(m_chain, fileIv, sizeof m_chain);
}

size_t ContainerReader::Unlock(const PasswordCandidates& given) {
  PasswordCandidates empty;
  if (given.Empty()) empty.Add("", 0);
  const PasswordCandidates& candidates = given.Empty() ? empty : given;

  uint8_t fileIv[16];
  ReadExact(fileIv, sizeof fileIv, FailureKind::Unreadable);
  uint8_t key[32];
  ScopedWipe wipeKey(key, sizeof key);
  if (m_layout.version == 0) {  // the password key and file IV serve the data
    const size_t chosen = candidates.Count() > 1 ? ChooseVersion0(candidates, fileIv) : 0;
    DeriveContainerKey(fileIv, candidates[chosen].data(), candidates[chosen].size(), key);
    UsePasswordKey(fileIv, key);
    return chosen;
  }

  uint8_t block[kKeyBlockSize], stored[kMacSize], computed[kMacSize];
  ScopedWipe wipeBlock(block, sizeof block);
  ReadExact(block, sizeof block, FailureKind::Unreadable);
  ReadExact(stored, sizeof stored, FailureKind::Unreadable);
  size_t chosen = 0;
  for (;; ++chosen) {
    if (chosen == candidates.Count()) Fail(FailureKind::KeyBlockMac);
    DeriveContainerKey(fileIv, candidates[chosen].data(), candidates[chosen].size(), key);
    HmacSha256 mac;
    mac.Init(key, sizeof key);
    mac.Update(block, sizeof block);
    mac.Final(computed);
    if (ConstantTimeEqual(computed, stored, kMacSize)) break;
  }
  UsePasswordKey(fileIv, key);
  AesCipher::CbcDecrypt(m_schedule, m_chain, block, block, 3);
  std::memcpy(m_chain, block, 16);
  {
    LockGuard guard(m_lock);
    AesCipher::SetDecryptKey(block + 16, &m_schedule);
  }
  m_mac.Init(block + 16, kKeySize);
  return chosen;
}

// Every candidate's MAC over the whole ciphertext, in one read; then back to where the
// data starts. A container none of them opens fails as a wrong password does at the end.
size_t ContainerReader::ChooseVersion0(const PasswordCandidates& candidates, const uint8_t fileIv[16]) {
  std::vector<HmacSha256> macs(candidates.Count());
  for (size_t i = 0; i < macs.size(); ++i) {
    uint8_t key[32];
    DeriveContainerKey(fileIv, candidates[i].data(), candidates[i].size(), key);
    macs[i].Init(key, sizeof key);
    SecureWipe(key, sizeof key);
  }
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<uint64_t>(1 << 20, std::max<uint64_t>(16, m_layout.cipherLength))));
  for (uint64_t left = m_layout.cipherLength; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), left));
    ReadExact(chunk.data(), n, FailureKind::Unreadable);
    for (HmacSha256& mac : macs) mac.Update(chunk.data(), n);
    left -= n;
  }
  uint8_t stored[kMacSize], computed[kMacSize];
  ReadExact(stored, sizeof stored, FailureKind::Unreadable);
  size_t chosen = macs.size();
  for (size_t i = 0; i < macs.size(); ++i) {
    macs[i].Final(computed);
    if (chosen == macs.size() && ConstantTimeEqual(computed, stored, kMacSize)) chosen = i;
  }
  if (chosen == macs.size()) Fail(FailureKind::BulkMacV0);
  const uint32_t status = m_source.Rewind();
  if (status != 0) Fail(FailureKind::Unreadable, status);
  uint8_t skipped[5 + kFileIvSize];
  ReadExact(skipped, sizeof skipped, FailureKind::Unreadable);
  return chosen;
}

void ContainerReader::FeedMac(void* p) {
  const QueuedPiece& piece = *static_cast<QueuedPiece*>(p);
  static_cast<ContainerReader*>(piece.owner)->m_mac.Update(piece.bytes.data(), piece.length);
}

size_t ContainerReader::ReadPlaintext(uint8_t* out, size_t capacity) {
  if (capacity < 16) throw std::logic_error("ReadPlaintext needs room for a block");
  if (m_cipherRemaining == 0) return 0;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(capacity & ~size_t{15}, m_cipherRemaining));
  QueuedPiece* piece = nullptr;
  uint8_t* cipher = out;
  if (want >= WorkQueue::kWorthwhileBytes) {
    piece = &m_pieces.Take(want);
    cipher = piece->bytes.data();
  }
  ReadExact(cipher, want, FailureKind::Unreadable);
  m_cipherRemaining -= want;
  const bool last = m_cipherRemaining == 0;
  if (last) {
    if (m_layout.version == 0)
      m_lengthByte = m_layout.lengthByte;
    else
      ReadExact(&m_lengthByte, 1, FailureKind::Unreadable);
  }
  if (piece) {
    m_pieces.Submit(*piece, want, this, &ContainerReader::FeedMac);
  } else {
    m_queue.WaitAll();  // the MAC takes the pieces in order
    m_mac.Update(cipher, want);
  }
  AesCipher::CbcDecrypt(m_schedule, m_chain, cipher, out, want / 16);
  if (!last) return want;
  const unsigned tail = m_lengthByte & 15u;
  return want - 16 + (tail ? tail : 16);
}

void ContainerReader::Finish() {
  if (m_cipherRemaining != 0) throw std::logic_error("Finish before the ciphertext was read");
  m_queue.WaitAll();
  if (m_layout.version != 0 && m_layout.cipherLength == 0)
    ReadExact(&m_lengthByte, 1, FailureKind::Unreadable);
  uint8_t computed[kMacSize], stored[kMacSize];
  m_mac.Final(computed);
  ReadExact(stored, sizeof stored, FailureKind::Unreadable);
  if (!ConstantTimeEqual(computed, stored, kMacSize))
    Fail(m_layout.version == 0 ? FailureKind::BulkMacV0 : FailureKind::BulkMac);
}

PasswordCheck CheckPassword(ContainerSource& source, const std::string& path, const char* password,
                            size_t length) {
  PasswordCandidates one;
  one.Add(password, length);
  return CheckPassword(source, path, one);
}

PasswordCheck CheckPassword(ContainerSource& source, const std::string& path, const PasswordCandidates& candidates,
                            size_t* which) {
  ContainerReader reader(source, path);
  if (reader.ReadLayout().version == 0) return PasswordCheck::Undecided;
  try {
    const size_t opened = reader.Unlock(candidates);
    if (which) *which = opened;
    return PasswordCheck::Opens;
  } catch (const SystemErrorException& e) {
    if (e.m_failure.kind == FailureKind::KeyBlockMac) return PasswordCheck::Wrong;
    throw;
  }
}

// ---------------------------------------------------------------------------------------
// Writer

ContainerWriter::ContainerWriter(ContainerSink& sink, std::string path, Lock* lock, WorkQueue* queue)
    : m_sink(sink), m_path(std::move(path)), m_lock(lock), m_queue(queue ? *queue : m_ownQueue) {}

ContainerWriter::~ContainerWriter() {
  m_queue.WaitAll();  // its jobs use this writer
  SecureWipe(&m_schedule, sizeof m_schedule);
  SecureWipe(m_pending, sizeof m_pending);
}

void ContainerWriter::WriteOrFail(const void* data, size_t length, FailureKind failure) {
  const uint32_t status = m_sink.Write(data, static_cast<uint32_t>(length));
  if (status != 0) throw SystemErrorException(failure, status, m_path);
}

void ContainerWriter::WriteHead(const uint8_t fileIv[16], const uint8_t bulkIvAndKey[48],
                                const char* password, size_t length) {
  std::vector<uint8_t> head = {'A', 'E', 'S', 2, 0};
  const std::vector<uint8_t> extensions = WrittenExtensionSection();
  head.insert(head.end(), extensions.begin(), extensions.end());
  head.insert(head.end(), fileIv, fileIv + kFileIvSize);
  WriteOrFail(head.data(), head.size(), FailureKind::WriteFailed);

  uint8_t key[32];
  DeriveContainerKey(fileIv, password, length, key);
  AesEncryptContext passwordSchedule;
  {
    LockGuard guard(m_lock);
    AesCipher::SetEncryptKey(key, &passwordSchedule);
  }
  m_mac.Init(key, sizeof key);
  SecureWipe(key, sizeof key);

  uint8_t block[kKeyBlockSize];
  uint8_t chain[16];
  std::memcpy(chain, fileIv, sizeof chain);
  AesCipher::CbcEncrypt(passwordSchedule, chain, bulkIvAndKey, block, 3);
  SecureWipe(&passwordSchedule, sizeof passwordSchedule);
  m_mac.Update(block, sizeof block);
  WriteOrFail(block, sizeof block, FailureKind::KeyBlockWriteFailed);

  uint8_t mac[kMacSize];
  m_mac.Final(mac);
  WriteOrFail(mac, sizeof mac, FailureKind::WriteFailed);

  {
    LockGuard guard(m_lock);
    AesCipher::SetEncryptKey(bulkIvAndKey + 16, &m_schedule);
  }
  m_mac.Init(bulkIvAndKey + 16, kKeySize);
  std::memcpy(m_chain, bulkIvAndKey, sizeof m_chain);
  m_pendingLength = 0;
  m_plaintextLength = 0;
}

void ContainerWriter::ThrowIfWriteFailed(uint32_t status) const {
  if (status != 0) throw SystemErrorException(FailureKind::WriteFailed, status, m_path);
}

void ContainerWriter::Settle() {
  m_queue.WaitAll();
  ThrowIfWriteFailed(m_writeStatus.load());
}

void ContainerWriter::MacAndWrite(void* p) {
  const QueuedPiece& slice = *static_cast<QueuedPiece*>(p);
  ContainerWriter& writer = *static_cast<ContainerWriter*>(slice.owner);
  if (writer.m_writeStatus.load() != 0) return;
  writer.m_mac.Update(slice.bytes.data(), slice.length);
  const uint32_t status = writer.m_sink.Write(slice.bytes.data(), static_cast<uint32_t>(slice.length));
  if (status != 0) writer.m_writeStatus.store(status);
}

void ContainerWriter::EncryptAndWrite(const uint8_t* data, size_t blocks) {
  while (blocks > 0) {
    const size_t n = std::min(blocks, kWriteSlice / 16);
    QueuedPiece& slice = m_slices.Take(n * 16);
    AesCipher::CbcEncrypt(m_schedule, m_chain, data, slice.bytes.data(), n);
    ThrowIfWriteFailed(m_writeStatus.load());
    if (n * 16 >= WorkQueue::kWorthwhileBytes) {
      m_slices.Submit(slice, n * 16, this, &ContainerWriter::MacAndWrite);
    } else {
      Settle();  // the MAC and the file take the slices in order
      m_mac.Update(slice.bytes.data(), n * 16);
      WriteOrFail(slice.bytes.data(), n * 16, FailureKind::WriteFailed);
    }
    data += n * 16;
    blocks -= n;
  }
}

void ContainerWriter::WritePlaintext(const uint8_t* data, size_t length) {
  if (length == 0) return;
  m_plaintextLength += length;
  if (m_pendingLength > 0) {
    const size_t take = std::min(length, 16 - m_pendingLength);
    std::memcpy(m_pending + m_pendingLength, data, take);
    m_pendingLength += take;
    data += take;
    length -= take;
    if (m_pendingLength < 16) return;
    EncryptAndWrite(m_pending, 1);
    m_pendingLength = 0;
  }
  EncryptAndWrite(data, length / 16);
  data += length / 16 * 16;
  m_pendingLength = length % 16;
  std::memcpy(m_pending, data, m_pendingLength);
}

void ContainerWriter::Finish() {
  if (m_pendingLength > 0) {
    std::memset(m_pending + m_pendingLength, 0, 16 - m_pendingLength);
    EncryptAndWrite(m_pending, 1);
    m_pendingLength = 0;
  }
  Settle();
  uint8_t trailer[1 + kMacSize];
  trailer[0] = static_cast<uint8_t>(m_plaintextLength % 16);
  m_mac.Final(trailer + 1);
  WriteOrFail(trailer, sizeof trailer, FailureKind::WriteFailed);
}
