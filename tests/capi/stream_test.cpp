// libqv3's streaming reader and writer over a caller's callbacks, as a program other than
// ours drives them through qv3.h: what a source or sink that fails, or a source that
// cannot rewind, does to each call (a code, never a crash, nothing handed out after), and
// that what the writer makes the reader reads back at the sizes around the block and the
// pieces the format moves.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qv3.h"

namespace {

struct Memory {
  std::vector<unsigned char> bytes;
  size_t at = 0;
  long long failAt = -1;  // a read reaching this offset fails (-1: never)
  bool canRewind = true;
  size_t writes = 0, failWrite = SIZE_MAX;  // the write of this number fails
};

long long ReadMemory(void* context, void* buffer, size_t size) {
  Memory& m = *static_cast<Memory*>(context);
  size_t n = std::min(size, m.bytes.size() - m.at);
  if (m.failAt >= 0 && m.at + n > static_cast<size_t>(m.failAt)) return -1;
  std::memcpy(buffer, m.bytes.data() + m.at, n);
  m.at += n;
  return static_cast<long long>(n);
}
int RewindMemory(void* context) {
  Memory& m = *static_cast<Memory*>(context);
  m.at = 0;
  return 0;
}
int WriteMemory(void* context, const void* buffer, size_t size) {
  Memory& m = *static_cast<Memory*>(context);
  if (m.writes++ == m.failWrite) return 1;
  m.bytes.insert(m.bytes.end(), static_cast<const unsigned char*>(buffer),
                 static_cast<const unsigned char*>(buffer) + size);
  return 0;
}

// A container of plaintext made by the writer (the code of the first failure otherwise).
int Make(const std::string& plaintext, const char* password, Memory* out) {
  const qv3_sink sink = {WriteMemory, out};
  qv3_writer* writer = nullptr;
  qv3_error* error = nullptr;
  int code = qv3_writer_open(&sink, "made.aqv3", password, std::strlen(password), QV3_PASSWORD_BYTES, &writer, &error);
  if (code == QV3_OK) code = qv3_writer_write(writer, plaintext.data(), plaintext.size(), &error);
  if (code == QV3_OK) code = qv3_writer_finish(writer, &error);
  qv3_writer_close(writer);
  qv3_error_free(error);
  return code;
}

// Reads the container in m back: the code of the first failure, or QV3_OK with *plaintext.
int ReadBack(Memory& m, const char* password, unsigned flags, std::string* plaintext) {
  const qv3_source source = {ReadMemory, m.canRewind ? RewindMemory : nullptr, &m, m.bytes.size()};
  qv3_reader* reader = nullptr;
  qv3_error* error = nullptr;
  int code = qv3_reader_open(&source, "c.aqv3", password, std::strlen(password), flags, &reader, &error);
  char buffer[4096];
  size_t got = 0;
  while (code == QV3_OK && (code = qv3_reader_read(reader, buffer, sizeof buffer, &got, &error)) == QV3_OK && got)
    plaintext->append(buffer, got);
  if (code == QV3_OK) code = qv3_reader_finish(reader, &error);
  if (code != QV3_OK) {
    // A failed reader gives nothing more, and says so with a code of its own.
    EXPECT_TRUE(error != nullptr && qv3_error_message(error)[0] != 0) << code;
    qv3_error* again = nullptr;
    if (reader) {
      EXPECT_EQ(qv3_reader_read(reader, buffer, sizeof buffer, &got, &again), QV3_INVALID_ARGUMENT);
    }
    qv3_error_free(again);
  }
  qv3_reader_close(reader);
  qv3_error_free(error);
  return code;
}

TEST(CapiStream, WhatTheWriterMakesTheReaderReadsBack) {
  for (size_t size : {0u, 1u, 15u, 16u, 17u, 4095u, 65536u, 512u * 1024u + 3u, 3u * 1024u * 1024u}) {
    std::string plaintext(size, '\0');
    for (size_t i = 0; i < size; ++i) plaintext[i] = static_cast<char>(i * 131 + size);
    Memory m;
    ASSERT_EQ(Make(plaintext, "pw", &m), QV3_OK) << size;
    std::string back;
    ASSERT_EQ(ReadBack(m, "pw", QV3_PASSWORD_BYTES, &back), QV3_OK) << size;
    EXPECT_EQ(back, plaintext) << size;
    back.clear();
    m.at = 0;
    EXPECT_EQ(ReadBack(m, "wrong", QV3_PASSWORD_BYTES, &back), QV3_WRONG_PASSWORD) << size;
  }
}

TEST(CapiStream, FailingCallbacksAreCodes) {
  Memory made;
  const std::string plaintext(200000, 'x');
  ASSERT_EQ(Make(plaintext, "pw", &made), QV3_OK);
  const long long size = static_cast<long long>(made.bytes.size());
  struct Case {
    long long failAt;  // a source failing there
    int code;
  } cases[] = {{0, QV3_TOO_SMALL_V2}, {4, QV3_TOO_SMALL_V2}, {200, QV3_UNREADABLE}, {size / 2, QV3_UNREADABLE},
               {size - 1, QV3_UNREADABLE}};
  for (const Case& c : cases) {
    Memory m = made;
    m.failAt = c.failAt;
    std::string back;
    const int code = ReadBack(m, "pw", QV3_PASSWORD_BYTES, &back);
    EXPECT_NE(code, QV3_OK) << c.failAt;
    EXPECT_EQ(qv3_exit_status(code), 1) << c.failAt;
  }
  // A damaged last block: every byte read, then the MAC says no.
  Memory damaged = made;
  damaged.bytes[damaged.bytes.size() - 40] ^= 1;
  std::string back;
  EXPECT_EQ(ReadBack(damaged, "pw", QV3_PASSWORD_BYTES, &back), QV3_DAMAGED);
  // A sink failing at its first write (the head) and at a later one.
  for (size_t failWrite : {size_t{0}, size_t{2}}) {
    Memory m;
    m.failWrite = failWrite;
    const int code = Make(std::string(3 * 1024 * 1024, 'y'), "pw", &m);
    EXPECT_TRUE(code == QV3_WRITE_FAILED || code == QV3_KEY_BLOCK_WRITE_FAILED || code == QV3_NEXT_WRITE_FAILED)
        << failWrite << ": " << code;
  }
}

TEST(CapiStream, ASourceThatCannotRewindStillTellsAVersion0Container) {
  // A version 0 container (53 bytes and up) keyed with "비밀" in UTF-8: typed text gives
  // several forms, which a version 0 container can be told from only by reading it whole
  // and again; without a rewind the second form cannot be tried, and that is a code.
  Memory m;
  m.bytes = {'A', 'E', 'S', 0, 0};
  m.bytes.resize(53, 0);
  m.canRewind = false;
  std::string back;
  const int code = ReadBack(m, "비밀", 0, &back);
  EXPECT_TRUE(code == QV3_UNREADABLE || code == QV3_WRONG_PASSWORD_OR_DAMAGED) << code;
  EXPECT_TRUE(back.empty());
}

TEST(CapiStream, ArgumentsAndPasswordsRefusedBeforeAnything) {
  Memory m;
  const qv3_sink sink = {WriteMemory, &m};
  qv3_writer* writer = nullptr;
  qv3_error* error = nullptr;
  struct Case {
    const char* password;
    size_t length;
    unsigned flags;
    int code;
  } cases[] = {{"", 0, 0, QV3_EMPTY_PASSWORD_REFUSED},
               {"x", 1, QV3_EMPTY_PASSWORD, QV3_PASSWORD_NOT_EMPTY},
               {"123456789012", 12, 0, QV3_PASSWORD_TOO_LONG},
               {"a\0b", 3, QV3_PASSWORD_BYTES, QV3_INVALID_ARGUMENT},
               {"\xF0\x9F\x98\x80", 4, 0, QV3_PASSWORD_NOT_KEPT},
               {"pw", 2, 0x80000000u, QV3_INVALID_ARGUMENT}};
  for (const Case& c : cases) {
    EXPECT_EQ(qv3_writer_open(&sink, "n", c.password, c.length, c.flags, &writer, &error), c.code) << c.password;
    EXPECT_TRUE(writer == nullptr && error != nullptr && qv3_error_code(error) == c.code);
    EXPECT_EQ(qv3_exit_status(c.code), 2);
    qv3_error_free(error);
    error = nullptr;
  }
  EXPECT_TRUE(m.bytes.empty()) << "a refused writer wrote";
  EXPECT_EQ(qv3_reader_open(nullptr, "n", "pw", 2, 0, nullptr, &error), QV3_INVALID_ARGUMENT);
  qv3_error_free(error);
}

}  // namespace
