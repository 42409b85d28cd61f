// libFuzzer target: ContainerReader on containers in memory.
//
// An input whose first byte is not 0 is a container as it stands (the corpus files seed
// this). An input starting with 0 describes a valid container (version, extensions,
// plaintext, length-byte bits) followed by edits to its bytes and length fields, so that
// mutations reach the key block, the ciphertext and the bulk MAC with MACs that match.
//
// What must hold for every input, beyond the sanitizers' checks:
// - the reader never asks for a byte past the end of the data;
// - it fails only with one of the messages a container's contents can cause, code 0;
// - on success it has read the data exactly to its end, and a container that was not
//   edited gives back its plaintext exactly.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "container/format.h"
#include "container/io.h"
#include "container/system_error_exception.h"
#include "tests/container/container_builder.h"

namespace {

const char kPassword[] = "password";
const char kPath[] = "fuzz.aqv3";

// A source that refuses to be asked for bytes past the end: every size the reader
// computes comes from the container's size, so such a request is an accounting fault.
class StrictSource : public ContainerSource {
 public:
  StrictSource(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  uint32_t GetSize(uint64_t* size) override {
    *size = m_size;
    return 0;
  }
  uint32_t Read(void* buffer, uint32_t count, uint32_t* read) override {
    if (count > m_size - m_position) std::abort();  // asked past the end
    if (count) std::memcpy(buffer, m_data + m_position, count);
    m_position += count;
    *read = count;
    return 0;
  }
  uint32_t Rewind() override {
    m_position = 0;
    return 0;
  }
  size_t Position() const { return m_position; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_position = 0;
};

// Reads input bytes in order; zeros once they run out.
class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  uint8_t Byte() { return m_position < m_size ? m_data[m_position++] : 0; }
  unsigned Word() { return static_cast<unsigned>(Byte()) << 8 | Byte(); }
  bool Done() const { return m_position >= m_size; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_position = 0;
};

// A refusal for what the bytes say, as opposed to a failure to read them.
bool IsContentFailure(const SystemErrorException& e) {
  if (e.m_failure.code != 0) return false;
  switch (e.m_failure.kind) {
    case FailureKind::TooSmall:
    case FailureKind::TooSmallV2:
    case FailureKind::BadSignature:
    case FailureKind::BadVersion:
    case FailureKind::BadCipherLength:
    case FailureKind::KeyBlockMac:
    case FailureKind::BulkMacV0:
    case FailureKind::BulkMac:
      return true;
    default:
      return false;
  }
}

// Reads the container; returns true with its plaintext, or false when it was refused.
bool Read(const uint8_t* data, size_t size, size_t chunk, std::vector<uint8_t>* plain) {
  StrictSource source(data, size);
  ContainerReader reader(source, kPath);
  try {
    const ContainerLayout& layout = reader.ReadLayout(true);
    if (layout.cipherLength % 16 != 0 || layout.cipherLength > size) std::abort();
    uint64_t sections = 0;
    for (const auto& e : layout.extensions) sections += e.size() + 2;
    if (layout.overhead + sections + layout.cipherLength != size) std::abort();
    reader.Unlock(kPassword, sizeof kPassword - 1);
    std::vector<uint8_t> buffer(chunk);
    uint64_t calls = 0;
    while (const size_t n = reader.ReadPlaintext(buffer.data(), buffer.size())) {
      if (n > chunk || ++calls > layout.cipherLength / 16) std::abort();
      plain->insert(plain->end(), buffer.begin(), buffer.begin() + static_cast<long>(n));
    }
    reader.Finish();
  } catch (const SystemErrorException& e) {
    if (!IsContentFailure(e) || e.m_failure.path != kPath) std::abort();
    return false;
  }
  if (source.Position() != size) std::abort();  // a container ends with its bulk MAC
  return true;
}

// Builds a container from the description at the cursor, then applies the edits that
// follow it. *edited tells whether any byte changed.
std::vector<uint8_t> Describe(Cursor& in, testutil::ContainerRecipe* recipe, bool* edited) {
  const uint8_t shape = in.Byte();
  recipe->version = shape % 3;
  recipe->lengthByteHighBits = static_cast<uint8_t>(in.Byte() & 0xF0);
  if (!(shape & 0x04)) recipe->extensions.clear();
  const unsigned extensionCount = (shape >> 3) & 7;
  std::vector<size_t> lengthFields;
  for (unsigned i = 0; i < extensionCount; ++i) {
    // Mostly short, now and then up to the largest length.
    unsigned length = in.Word();
    if (!(length & 0x8000)) length &= 0x3F;
    if (length == 0) length = 1;
    recipe->extensions.push_back(std::vector<uint8_t>(length, in.Byte()));
  }
  recipe->plaintext.resize(in.Word() % 2048);
  for (size_t i = 0; i < recipe->plaintext.size(); ++i) recipe->plaintext[i] = static_cast<uint8_t>(i * 31 + shape);

  testutil::ContainerOffsets offsets;
  std::vector<uint8_t> c = testutil::BuildContainer(*recipe, &offsets);
  if (recipe->version == 2) {
    size_t at = 5;
    for (const auto& e : recipe->extensions) {
      lengthFields.push_back(at);
      at += 2 + e.size();
    }
    lengthFields.push_back(at);  // the end mark
  }

  *edited = false;
  for (int edits = 0; edits < 8 && !in.Done(); ++edits) {
    const uint8_t op = in.Byte();
    const unsigned where = in.Word();
    const uint8_t value = in.Byte();
    const std::vector<uint8_t> before = c;
    switch (op % 6) {
      case 0:  // one byte
        if (!c.empty()) c[where % c.size()] = value;
        break;
      case 1:  // cut
        c.resize(where % (c.size() + 1));
        break;
      case 2:  // append
        c.insert(c.end(), value, static_cast<uint8_t>(where));
        break;
      case 3:  // an extension length or the end mark
        if (!lengthFields.empty()) {
          const size_t at = lengthFields[value % lengthFields.size()];
          if (at + 1 < c.size()) {
            c[at] = static_cast<uint8_t>(where >> 8);
            c[at + 1] = static_cast<uint8_t>(where);
          }
        }
        break;
      case 4: {  // the length byte
        const size_t at = recipe->version == 0 ? 4 : offsets.lengthByte;
        if (at < c.size()) c[at] ^= value;
        break;
      }
      case 5:  // insert or remove a byte
        if (value & 1) {
          c.insert(c.begin() + static_cast<long>(where % (c.size() + 1)), value);
        } else if (!c.empty()) {
          c.erase(c.begin() + static_cast<long>(where % c.size()));
        }
        break;
    }
    if (c != before) *edited = true;
  }
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> plain;
  if (size == 0 || data[0] != 0) {
    Read(data, size, 16 * (1 + (size % 5)), &plain);
    return 0;
  }
  Cursor in(data + 1, size - 1);
  const size_t chunk = 16 * (1 + in.Byte() % 4);
  testutil::ContainerRecipe recipe;
  bool edited = false;
  const std::vector<uint8_t> c = Describe(in, &recipe, &edited);
  const bool ok = Read(c.data(), c.size(), chunk, &plain);
  if (!edited && (!ok || plain != recipe.plaintext)) std::abort();  // a valid container must open
  return 0;
}
