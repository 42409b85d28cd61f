#pragma once
// AES (FIPS-197) for 256-bit keys: key schedules in plain records and one-block
// operations, plus CBC entries over whole blocks for bulk work.
//
// The portable implementation is table-driven; its memory accesses depend on the data
// and the key. Where the CPU has AES-NI, that path is chosen instead (see dispatch.h).

#include <cstddef>
#include <cstdint>

// Round keys 0 to 14 of FIPS-197 section 5.2 (w[0] .. w[59]); each word holds its four
// bytes in memory in FIPS-197 order, so the 240 bytes read in address order are round
// key 0 to round key 14 as FIPS-197 prints them. roundInfo: 16 x number of rounds in
// the low-order byte (224 for AES-256), zeros above.
struct AesEncryptContext {
  uint32_t roundKeys[60];
  uint32_t roundInfo;
};

// Round keys of the equivalent inverse cipher (FIPS-197 5.3.5) in the order decryption
// uses them: slot 0 = encryption round key 14, slot s (1..13) = InvMixColumns of
// encryption round key 14 - s, slot 14 = encryption round key 0. This is exactly the
// sequence that AES-NI's aesdec/aesdeclast consume. roundInfo as above.
struct AesDecryptContext {
  uint32_t roundKeys[60];
  uint32_t roundInfo;
};

// The number of rounds a context's round-info byte stands for: 160, 192 and 224 give 10,
// 12 and 14; anything else 0, which the block operations refuse.
inline unsigned AesRoundCount(uint32_t roundInfo) {
  switch (roundInfo & 0xff) {
    case 160: return 10;
    case 192: return 12;
    case 224: return 14;
    default: return 0;
  }
}

namespace AesCipher {

// Both always return 0. SetDecryptKey needs no encryption context first.
int SetEncryptKey(const uint8_t key[32], AesEncryptContext* ctx);
int SetDecryptKey(const uint8_t key[32], AesDecryptContext* ctx);

// One 16-byte block; in and out may be the same buffer; no alignment needed.
// Return 0, or -1 (output untouched) when the round-info byte is not 160, 192 or 224.
int EncryptBlock(const uint8_t in[16], uint8_t out[16], const AesEncryptContext* ctx);
int DecryptBlock(const uint8_t in[16], uint8_t out[16], const AesDecryptContext* ctx);

// CBC over `blocks` whole blocks. iv holds the previous ciphertext block on entry and
// the last ciphertext block on return, so consecutive calls continue one chain.
// in and out may be the same buffer, but must not otherwise overlap. Return 0, or -1 as
// the block operations (then neither out nor iv is written).
int CbcEncrypt(const AesEncryptContext& ctx, uint8_t iv[16], const uint8_t* in, uint8_t* out,
               size_t blocks);
int CbcDecrypt(const AesDecryptContext& ctx, uint8_t iv[16], const uint8_t* in, uint8_t* out,
               size_t blocks);

}  // namespace AesCipher

// One implementation of the block and CBC operations over the context records above.
// Key set-up is shared: the records' layout is the same for every implementation.
struct AesImplementation {
  const char* name;  // "portable", "aes-ni"
  int (*encryptBlock)(const uint8_t in[16], uint8_t out[16], const AesEncryptContext* ctx);
  int (*decryptBlock)(const uint8_t in[16], uint8_t out[16], const AesDecryptContext* ctx);
  int (*cbcEncrypt)(const AesEncryptContext& ctx, uint8_t iv[16], const uint8_t* in,
                    uint8_t* out, size_t blocks);
  int (*cbcDecrypt)(const AesDecryptContext& ctx, uint8_t iv[16], const uint8_t* in,
                    uint8_t* out, size_t blocks);
};

// Defined in aes_portable.cpp and aes_ni.cpp; only dispatch.cpp chooses between them.
extern const AesImplementation kAesPortable;
extern const AesImplementation kAesNi;  // callable only where the CPU has AES-NI
