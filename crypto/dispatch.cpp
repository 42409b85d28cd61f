#include "crypto/dispatch.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define QV3_X86 1
#endif

namespace {

CpuFeatures DetectCpuFeatures() {
  CpuFeatures f;
#ifdef QV3_X86
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d)) {
    const bool ssse3 = (c >> 9) & 1, sse41 = (c >> 19) & 1, aes = (c >> 25) & 1;
    f.aesni = aes && ssse3;
    if (__get_cpuid_max(0, nullptr) >= 7) {
      unsigned a7 = 0, b7 = 0, c7 = 0, d7 = 0;
      __cpuid_count(7, 0, a7, b7, c7, d7);
      f.shani = ((b7 >> 29) & 1) && ssse3 && sse41;
    }
  }
#endif
  return f;
}

// QV3_CPU: comma-separated; "portable" turns every feature off, "noaesni" and
// "noshani" one each. Unknown words are ignored.
CpuFeatures ApplyCpuSwitch(CpuFeatures f, const char* recipe) {
  if (!recipe) return f;
  std::string s(recipe);
  size_t pos = 0;
  while (pos <= s.size()) {
    size_t end = s.find(',', pos);
    if (end == std::string::npos) end = s.size();
    const std::string word = s.substr(pos, end - pos);
    if (word == "portable") f = CpuFeatures{};
    if (word == "noaesni") f.aesni = false;
    if (word == "noshani") f.shani = false;
    pos = end + 1;
  }
  return f;
}

const AesImplementation& ChooseAes() {
#ifdef QV3_X86
  if (AllowedCpuFeatures().aesni) return kAesNi;
#endif
  return kAesPortable;
}

const Sha256Implementation& ChooseSha256() {
#ifdef QV3_X86
  if (AllowedCpuFeatures().shani) return kSha256Ni;
#endif
  return kSha256Portable;
}

std::atomic<const AesImplementation*>& AesSlot() {
  static std::atomic<const AesImplementation*> slot{&ChooseAes()};
  return slot;
}

std::atomic<const Sha256Implementation*>& Sha256Slot() {
  static std::atomic<const Sha256Implementation*> slot{&ChooseSha256()};
  return slot;
}

}  // namespace

CpuFeatures AllowedCpuFeatures() {
  static const CpuFeatures features = ApplyCpuSwitch(DetectCpuFeatures(), std::getenv("QV3_CPU"));
  return features;
}

const AesImplementation& ActiveAes() { return *AesSlot().load(std::memory_order_relaxed); }
const Sha256Implementation& ActiveSha256() { return *Sha256Slot().load(std::memory_order_relaxed); }

size_t AvailableAesImplementations(const AesImplementation* out[], size_t capacity) {
  size_t n = 0;
#ifdef QV3_X86
  if (DetectCpuFeatures().aesni && n < capacity) out[n++] = &kAesNi;
#endif
  if (n < capacity) out[n++] = &kAesPortable;
  return n;
}

size_t AvailableSha256Implementations(const Sha256Implementation* out[], size_t capacity) {
  size_t n = 0;
#ifdef QV3_X86
  if (DetectCpuFeatures().shani && n < capacity) out[n++] = &kSha256Ni;
#endif
  if (n < capacity) out[n++] = &kSha256Portable;
  return n;
}

ScopedAesImplementation::ScopedAesImplementation(const AesImplementation& impl)
    : m_previous(AesSlot().exchange(&impl)) {}
ScopedAesImplementation::~ScopedAesImplementation() { AesSlot().store(m_previous); }

ScopedSha256Implementation::ScopedSha256Implementation(const Sha256Implementation& impl)
    : m_previous(Sha256Slot().exchange(&impl)) {}
ScopedSha256Implementation::~ScopedSha256Implementation() { Sha256Slot().store(m_previous); }
