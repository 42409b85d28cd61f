#include "crypto/hmac.h"

#include <cstring>

#include "crypto/secure.h"

HmacSha256::~HmacSha256() {
  SecureWipe(&m_inner, sizeof m_inner);
  SecureWipe(m_outerPad, sizeof m_outerPad);
}

void HmacSha256::Init(const uint8_t* key, size_t keyLength) {
  uint8_t block[64] = {};
  if (keyLength > sizeof block) {
    Sha256Context keyHash;
    keyHash.Init();
    keyHash.Update(key, keyLength);
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

void HmacSha256::Update(const void* data, size_t length) { m_inner.Update(data, length); }

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
  hmac.Update(data, length);
  hmac.Final(mac);
}
