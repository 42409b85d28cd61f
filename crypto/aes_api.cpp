// The AesCipher entry points used by the engines. Block and CBC calls go to the
// implementation chosen once for this CPU (dispatch.cpp); the key set-ups do not depend
// on it, since every implementation reads the same records, and live beside the tables
// they use in aes_portable.cpp.

#include "crypto/aes.h"
#include "crypto/dispatch.h"

namespace AesCipher {

int EncryptBlock(const uint8_t in[16], uint8_t out[16], const AesEncryptContext* ctx) {
  return ActiveAes().encryptBlock(in, out, ctx);
}

int DecryptBlock(const uint8_t in[16], uint8_t out[16], const AesDecryptContext* ctx) {
  return ActiveAes().decryptBlock(in, out, ctx);
}

int CbcEncrypt(const AesEncryptContext& ctx, uint8_t iv[16], const uint8_t* in, uint8_t* out,
               size_t blocks) {
  return ActiveAes().cbcEncrypt(ctx, iv, in, out, blocks);
}

int CbcDecrypt(const AesDecryptContext& ctx, uint8_t iv[16], const uint8_t* in, uint8_t* out,
               size_t blocks) {
  return ActiveAes().cbcDecrypt(ctx, iv, in, out, blocks);
}

}  // namespace AesCipher
