#include "app/command_line.h"

#include <cstring>
#include <cstdlib>

#include "platform/file_ops.h"

namespace {

bool IsSeparator(unsigned char c) { return c == 9 || c == 10 || c == 13 || c == 32; }

}  // namespace

char** SplitCommandLine(const char* text, int* count) {
  *count = 0;
  const size_t length = std::strlen(text);
  // floor((L + 2) / 2) + 1 pointers hold every argument list L bytes can produce (each
  // argument takes a byte or a pair of quotes, and one separator from the next), plus
  // the null pointer; L + 2 bytes hold the texts and their terminators.
  const size_t entries = (length + 2) / 2 + 1;
  void* block = std::malloc(entries * sizeof(char*) + length + 2);
  if (!block) return nullptr;
  char** table = static_cast<char**>(block);
  char* out = reinterpret_cast<char*>(table + entries);

  bool inQuotes = false, inArgument = false, expectingNew = true;
  int n = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    const unsigned char c = *p;
    if (inQuotes) {
      if (c == '"')
        inQuotes = false;
      else
        *out++ = static_cast<char>(c);
      continue;
    }
    if (IsSeparator(c)) {
      if (inArgument) *out++ = '\0';
      inArgument = false;
      expectingNew = true;
    } else if (c == '"') {
      if (expectingNew) table[n++] = out;
      inQuotes = true;
      inArgument = true;
      expectingNew = false;
    } else {
      if (expectingNew) table[n++] = out;
      *out++ = static_cast<char>(c);
      inArgument = true;
      expectingNew = false;
    }
  }
  *out = '\0';
  table[n] = nullptr;
  *count = n;
  return table;
}

void FreeArgumentBlock(char** block) { std::free(block); }

const char* CommandLineTail(const char* commandLine) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p > 32) ++p;
  }
  while (*p >= 1 && *p <= 32) ++p;
  return reinterpret_cast<const char*>(p);
}
