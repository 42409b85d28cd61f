#include "platform/mbstring.h"

const char* MbsChr(const char* s, char c) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p; ++p) {
    if (IsLeadByte(*p)) {
      if (!p[1]) break;
      ++p;
      continue;
    }
    if (*p == static_cast<unsigned char>(c)) return reinterpret_cast<const char*>(p);
  }
  return nullptr;
}

const char* MbsRChr(const char* s, char c) {
  const char* last = nullptr;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p; ++p) {
    if (IsLeadByte(*p)) {
      if (!p[1]) break;
      ++p;
      continue;
    }
    if (*p == static_cast<unsigned char>(c)) last = reinterpret_cast<const char*>(p);
  }
  return last;
}

static unsigned char FoldAscii(unsigned char b) {
  return (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b + ('a' - 'A')) : b;
}

int MbsICmp(const char* a, const char* b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
  for (;;) {
    if (IsLeadByte(*p) && p[1] && IsLeadByte(*q) && q[1]) {
      if (p[0] != q[0]) return p[0] - q[0];
      if (p[1] != q[1]) return p[1] - q[1];
      p += 2;
      q += 2;
      continue;
    }
    const int x = FoldAscii(*p), y = FoldAscii(*q);
    if (x != y || x == 0) return x - y;
    ++p;
    ++q;
  }
}

char* MbsBoundedCopy(char* dst, const char* src, size_t n) {
  size_t i = 0;
  while (i < n && src[i]) {
    if (IsLeadByte(static_cast<unsigned char>(src[i]))) {
      if (i + 1 >= n || !src[i + 1]) break;
      dst[i] = src[i];
      dst[i + 1] = src[i + 1];
      i += 2;
    } else {
      dst[i] = src[i];
      ++i;
    }
  }
  dst[i] = '\0';
  return dst;
}
