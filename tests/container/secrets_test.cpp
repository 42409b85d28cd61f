// Keys derived while reading or writing a container do not outlive the reader or
// writer: their storage holds none of them afterwards.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "container/format.h"
#include "container/io.h"
#include "container/system_error_exception.h"
#include "crypto/aes.h"
#include "tests/container/container_builder.h"
#include "tests/engine_fixture.h"
#include "tests/test_util.h"

using namespace testutil;

namespace {

bool Contains(const unsigned char* storage, size_t size, const uint8_t* needle, size_t n) {
  return std::search(storage, storage + size, needle, needle + n) != storage + size;
}

// Every form a key takes inside a reader or writer: the key, its schedules, its pads.
std::vector<std::vector<uint8_t>> Forms(const uint8_t key[32]) {
  std::vector<std::vector<uint8_t>> forms;
  forms.emplace_back(key, key + 32);
  AesEncryptContext e;
  AesDecryptContext d;
  AesCipher::SetEncryptKey(key, &e);
  AesCipher::SetDecryptKey(key, &d);
  const uint8_t* eb = reinterpret_cast<const uint8_t*>(e.roundKeys);
  const uint8_t* db = reinterpret_cast<const uint8_t*>(d.roundKeys);
  forms.emplace_back(eb + 32, eb + 64);  // expanded words beyond the key itself
  forms.emplace_back(db + 16, db + 48);
  std::vector<uint8_t> inner(32), outer(32);
  for (int i = 0; i < 32; ++i) {
    inner[i] = key[i] ^ 0x36;
    outer[i] = key[i] ^ 0x5c;
  }
  forms.push_back(inner);
  forms.push_back(outer);
  return forms;
}

}  // namespace

TEST(Secrets, AReaderLeavesNoKeyBehindWhetherItSucceedsOrFails) {
  ContainerRecipe recipe;
  recipe.plaintext = RandomBytes(100, 1);
  const auto container = BuildContainer(recipe);
  uint8_t passwordKey[32];
  DeriveContainerKey(recipe.fileIv, recipe.password.data(), recipe.password.size(), passwordKey);
  auto forms = Forms(passwordKey);
  const auto bulk = Forms(recipe.bulkIvAndKey + 16);
  forms.insert(forms.end(), bulk.begin(), bulk.end());

  for (const char* password : {"password", "wrong"}) {
    alignas(ContainerReader) unsigned char storage[sizeof(ContainerReader)] = {};
    MemorySource source(container.data(), container.size());
    ContainerReader* reader = new (storage) ContainerReader(source, "x");
    bool sawKeys = false;
    try {
      reader->ReadLayout();
      reader->Unlock(password, std::strlen(password));
      // While it works, the keys are there (so the search below can find them).
      for (const auto& f : forms) sawKeys |= Contains(storage, sizeof storage, f.data(), f.size());
      std::vector<uint8_t> out(4096);
      while (reader->ReadPlaintext(out.data(), out.size())) {
      }
      reader->Finish();
    } catch (const SystemErrorException&) {
    }
    if (std::strcmp(password, "password") == 0) {
      EXPECT_TRUE(sawKeys) << "the search cannot find the keys at all";
    }
    reader->~ContainerReader();
    for (size_t i = 0; i < forms.size(); ++i)
      EXPECT_FALSE(Contains(storage, sizeof storage, forms[i].data(), forms[i].size()))
          << "form " << i << " left after a reader with password " << password;
  }
}

TEST(Secrets, AWriterLeavesNoKeyBehind) {
  ContainerRecipe recipe;
  uint8_t passwordKey[32];
  DeriveContainerKey(recipe.fileIv, "pw", 2, passwordKey);
  auto forms = Forms(passwordKey);
  const auto bulk = Forms(recipe.bulkIvAndKey + 16);
  forms.insert(forms.end(), bulk.begin(), bulk.end());

  alignas(ContainerWriter) unsigned char storage[sizeof(ContainerWriter)] = {};
  MemorySink sink;
  ContainerWriter* writer = new (storage) ContainerWriter(sink, "x");
  writer->WriteHead(recipe.fileIv, recipe.bulkIvAndKey, "pw", 2);
  const auto plain = RandomBytes(50, 2);
  writer->WritePlaintext(plain.data(), plain.size());
  bool sawKeys = false;
  for (const auto& f : forms) sawKeys |= Contains(storage, sizeof storage, f.data(), f.size());
  EXPECT_TRUE(sawKeys);
  writer->Finish();
  writer->~ContainerWriter();
  for (size_t i = 0; i < forms.size(); ++i)
    EXPECT_FALSE(Contains(storage, sizeof storage, forms[i].data(), forms[i].size())) << "form " << i;
  EXPECT_EQ(DecryptInMemory(sink.bytes, "pw"), plain);
}
