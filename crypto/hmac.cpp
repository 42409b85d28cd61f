#include "crypto/hmac.h"

#include <cstring>

#include "crypto/secure.h"

namespace {

// Feeds a length that may exceed one Update call's 32-bit limit.
void UpdateLong(Sha256Context& ctx, const uint8_t* data, size_t length) {
  const size_t kChunk = size_t{1} << 30;
  while (length > kChunk) {
    ctx.Update(data, static_cast<uint32_t>(kChunk));
    data += kChunk;
    length -= kChunk;
  }
  ctx.Update(data, static_cast<uint32_t>(length));
}

}  // namespace

HmacSha256::~HmacSha256() {
  SecureWipe(&m_inner, sizeof m_inner);
  SecureWipe(m_outerPad, sizeof m_outerPad);
}

void HmacSha256::Init(const uint8_t* key, size_t keyLength) {
  uint8_t block[64] = {};
  if (keyLength > sizeof block) {
    Sha256Context keyHash;
    keyHash.Init();
    UpdateLong(keyHash, key, keyLength);
    keyHash.Final(block);
    SecureWipe(&keyHash, sizeof keyHash);
  } else if (keyLength != 0) {
    std::memcpy(block, key, keyLength);
  }

  uint8_t innerPad[64];
  for (size_t i = 0; i < 64; ++i) {
    innerPad[i] = static_cast<uint8_t>(block[i] ^ 0x36);
    m_outerPad[i] = static_cast<uint8_t>(block[i] ^ 0x5C);
  }
  m_inner.Init();
  m_inner.Update(innerPad, sizeof innerPad);

  SecureWipe(block, sizeof block);
  SecureWipe(innerPad, sizeof innerPad);
}

void HmacSha256::Update(const void* data, uint32_t length) { m_inner.Update(data, length); }

void HmacSha256::Final(uint8_t mac[32]) {
  uint8_t innerDigest[32];
  m_inner.Final(innerDigest);

  Sha256Context outer;
  outer.Init();
  outer.Update(m_outerPad, sizeof m_outerPad);
  outer.Update(innerDigest, sizeof innerDigest);
  outer.Final(mac);

  // The inner context's state is a function of the key alone until data is fed, and the
  // outer pad is the key itself: neither may outlive the MAC.
  SecureWipe(innerDigest, sizeof innerDigest);
  SecureWipe(&outer, sizeof outer);
  SecureWipe(&m_inner, sizeof m_inner);
  SecureWipe(m_outerPad, sizeof m_outerPad);
}

void ComputeHmacSha256(const uint8_t* key, size_t keyLength, const void* data, size_t length,
                       uint8_t mac[32]) {
  HmacSha256 hmac;
  hmac.Init(key, keyLength);
  // Fed in 1 GiB pieces so that lengths beyond 32 bits work where size_t allows them.
  const uint8_t* p = static_cast<const uint8_t*>(data);
  const size_t kChunk = size_t{1} << 30;
  while (length > kChunk) {
    hmac.Update(p, static_cast<uint32_t>(kChunk));
    p += kChunk;
    length -= kChunk;
  }
  hmac.Update(p, static_cast<uint32_t>(length));
  hmac.Final(mac);
}
