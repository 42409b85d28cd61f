#include "tests/container/container_builder.h"

#include <cstring>

#include "container/format.h"
#include "container/password_rule.h"
#include "crypto/aes.h"
#include "crypto/hmac.h"

namespace testutil {

ContainerRecipe::ContainerRecipe() {
  for (size_t i = 0; i < sizeof bulkIvAndKey; ++i) bulkIvAndKey[i] = static_cast<uint8_t>(0x40 + i);
}

std::vector<std::vector<uint8_t>> ContainerRecipe::WrittenExtensions() {
  const char created[] = "CREATED_BY\0TARVESSIN KVT 3";  // 11 + 15 bytes, no terminator
  return {std::vector<uint8_t>(created, created + 26), std::vector<uint8_t>(128, 0)};
}

static void Append(std::vector<uint8_t>& out, const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }

static std::vector<uint8_t> CbcEncrypt(const uint8_t key[32], const uint8_t iv[16],
                                       std::vector<uint8_t> data) {
  AesEncryptContext ctx;
  AesCipher::SetEncryptKey(key, &ctx);
  uint8_t chain[16];
  std::memcpy(chain, iv, 16);
  for (size_t i = 0; i < data.size(); i += 16) {
    for (int j = 0; j < 16; ++j) data[i + j] ^= chain[j];
    AesCipher::EncryptBlock(&data[i], &data[i], &ctx);
    std::memcpy(chain, &data[i], 16);
  }
  return data;
}

std::vector<uint8_t> BuildContainer(const ContainerRecipe& recipe, ContainerOffsets* offsets) {
  ContainerOffsets o;
  std::vector<uint8_t> out = {'A', 'E', 'S', static_cast<uint8_t>(recipe.version)};
  const uint8_t lengthByte = static_cast<uint8_t>((recipe.plaintext.size() % 16) | recipe.lengthByteHighBits);
  out.push_back(recipe.version == 0 ? lengthByte : 0);
  if (recipe.version == 2) {
    for (const auto& e : recipe.extensions) {
      out.push_back(static_cast<uint8_t>(e.size() >> 8));
      out.push_back(static_cast<uint8_t>(e.size()));
      Append(out, e.data(), e.size());
    }
    out.push_back(0);
    out.push_back(0);
  }
  o.fileIv = out.size();
  Append(out, recipe.fileIv, 16);

  uint8_t passwordKey[32];
  DeriveContainerKey(recipe.fileIv, recipe.password.data(), recipe.password.size(), passwordKey);

  const uint8_t* dataKey = passwordKey;
  const uint8_t* dataIv = recipe.fileIv;
  if (recipe.version != 0) {
    std::vector<uint8_t> keyBlock =
        CbcEncrypt(passwordKey, recipe.fileIv, std::vector<uint8_t>(recipe.bulkIvAndKey, recipe.bulkIvAndKey + 48));
    o.keyBlock = out.size();
    Append(out, keyBlock.data(), keyBlock.size());
    uint8_t mac[32];
    ComputeHmacSha256(passwordKey, 32, keyBlock.data(), keyBlock.size(), mac);
    o.keyBlockMac = out.size();
    Append(out, mac, 32);
    dataIv = recipe.bulkIvAndKey;
    dataKey = recipe.bulkIvAndKey + 16;
  }

  std::vector<uint8_t> padded = recipe.plaintext;
  padded.resize((padded.size() + 15) / 16 * 16, 0);
  const std::vector<uint8_t> cipher = CbcEncrypt(dataKey, dataIv, padded);
  o.ciphertext = out.size();
  o.cipherLength = cipher.size();
  Append(out, cipher.data(), cipher.size());
  if (recipe.version != 0) {
    o.lengthByte = out.size();
    out.push_back(lengthByte);
  }
  uint8_t mac[32];
  ComputeHmacSha256(dataKey, 32, cipher.data(), cipher.size(), mac);
  o.bulkMac = out.size();
  Append(out, mac, 32);
  if (offsets) *offsets = o;
  return out;
}

std::vector<uint8_t> DecryptInMemory(const std::vector<uint8_t>& container, const std::string& password,
                                     size_t chunk, const std::string& path) {
  PasswordCandidates one;
  one.Add(password);
  return DecryptInMemory(container, one, chunk, path);
}

std::vector<uint8_t> DecryptInMemory(const std::vector<uint8_t>& container, const PasswordCandidates& passwords,
                                     size_t chunk, const std::string& path) {
  MemorySource source(container.data(), container.size());
  ContainerReader reader(source, path);
  reader.ReadLayout();
  reader.Unlock(passwords);
  std::vector<uint8_t> plain;
  std::vector<uint8_t> buffer(chunk);
  while (size_t n = reader.ReadPlaintext(buffer.data(), buffer.size())) plain.insert(plain.end(), buffer.begin(), buffer.begin() + static_cast<long>(n));
  reader.Finish();
  return plain;
}

uint32_t FaultySource::GetSize(uint64_t* size) {
  if (m_sizeError) return m_sizeError;
  *size = m_data.size();
  return 0;
}

uint32_t FaultySource::Read(void* buffer, uint32_t count, uint32_t* read) {
  *read = 0;
  if (m_position <= m_failOffset && m_failOffset < m_position + count) return m_readError;
  const size_t n = std::min<size_t>(count, m_data.size() - m_position);
  if (n) std::memcpy(buffer, m_data.data() + m_position, n);
  m_position += n;
  *read = static_cast<uint32_t>(n);
  return 0;
}

}  // namespace testutil
