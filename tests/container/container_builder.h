#pragma once
// Builds containers of every version byte by byte, independently of ContainerWriter, so
// that tests can make the shapes the writer never makes (versions 0 and 1, other
// extension sections, damaged fields) and check the writer's layout against them.

#include <cstdint>
#include <string>
#include <vector>

#include "container/io.h"
#include "container/password_rule.h"

namespace testutil {

struct ContainerRecipe {
  int version = 2;
  std::string password = "password";
  std::vector<uint8_t> plaintext;
  // Version 2 only: the extension contents, in order; the end mark is added.
  std::vector<std::vector<uint8_t>> extensions = WrittenExtensions();
  uint8_t lengthByteHighBits = 0;  // ORed into the length byte (high 4 bits)
  uint8_t fileIv[16] = {0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7,
                        0xf8, 0xf9, 0xfa, 0xfb, 0xfc, 0xfd, 0xfe, 0xff};
  uint8_t bulkIvAndKey[48] = {};  // filled with 0x40.. by default (see constructor)

  ContainerRecipe();
  // CREATED_BY "TARVESSIN KVT 3" and a 128-byte empty extension: what the writer makes.
  static std::vector<std::vector<uint8_t>> WrittenExtensions();
};

// Offsets of the fields of a built container.
struct ContainerOffsets {
  size_t fileIv = 0, keyBlock = 0, keyBlockMac = 0, ciphertext = 0, lengthByte = 0, bulkMac = 0;
  size_t cipherLength = 0;
};

std::vector<uint8_t> BuildContainer(const ContainerRecipe& recipe, ContainerOffsets* offsets = nullptr);

// Decrypts a whole container from memory with ContainerReader, asking for `chunk` bytes
// at a time; throws SystemErrorException as the reader does.
std::vector<uint8_t> DecryptInMemory(const std::vector<uint8_t>& container,
                                     const std::string& password, size_t chunk = 4096,
                                     const std::string& path = "in.aqv3");
// The same, the container tried with each candidate as the engines try it.
std::vector<uint8_t> DecryptInMemory(const std::vector<uint8_t>& container, const PasswordCandidates& passwords,
                                     size_t chunk, const std::string& path);

// A source over memory that fails: GetSize with sizeError (when non-zero), and any Read
// that would include the byte at failOffset with readError.
class FaultySource : public ContainerSource {
 public:
  FaultySource(const std::vector<uint8_t>& data, size_t failOffset, uint32_t readError,
               uint32_t sizeError = 0)
      : m_data(data), m_failOffset(failOffset), m_readError(readError), m_sizeError(sizeError) {}
  uint32_t GetSize(uint64_t* size) override;
  uint32_t Read(void* buffer, uint32_t count, uint32_t* read) override;
  uint32_t Rewind() override {
    m_position = 0;
    return 0;
  }

 private:
  const std::vector<uint8_t>& m_data;
  size_t m_failOffset;
  uint32_t m_readError;
  uint32_t m_sizeError;
  size_t m_position = 0;
};

}  // namespace testutil
