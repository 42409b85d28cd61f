#include "platform/catalog.h"

namespace {

uint32_t Word(const std::string& bytes, uint64_t at, bool swapped) {
  if (at + 4 > bytes.size()) return 0;
  const auto b = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[static_cast<size_t>(at) + i]));
  };
  return swapped ? (b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3)) : (b(3) << 24 | b(2) << 16 | b(1) << 8 | b(0));
}

}  // namespace

bool MessageCatalog::Parse(const std::string& bytes) {
  // The magic number tells the byte order the catalog was written in.
  const uint32_t magic = Word(bytes, 0, false);
  const bool swapped = magic == 0xde120495u;
  if (!swapped && magic != 0x950412deu) return false;
  const uint32_t count = Word(bytes, 8, swapped);
  const uint32_t originals = Word(bytes, 12, swapped), translations = Word(bytes, 16, swapped);
  std::unordered_map<std::string, std::string> texts;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t o = originals + 8ull * i, t = translations + 8ull * i;
    const uint32_t oLength = Word(bytes, o, swapped), oAt = Word(bytes, o + 4, swapped);
    const uint32_t tLength = Word(bytes, t, swapped), tAt = Word(bytes, t + 4, swapped);
    if (t + 8 > bytes.size() || o + 8 > bytes.size() || uint64_t{oAt} + oLength > bytes.size() ||
        uint64_t{tAt} + tLength > bytes.size())
      return false;
    // The header (the empty original) is no text of ours.
    if (oLength == 0) continue;
    texts.emplace(bytes.substr(oAt, oLength), bytes.substr(tAt, tLength));
  }
  m_texts = std::move(texts);
  return true;
}

const char* MessageCatalog::Find(const char* original) const {
  const auto found = m_texts.find(original);
  return found == m_texts.end() || found->second.empty() ? nullptr : found->second.c_str();
}
