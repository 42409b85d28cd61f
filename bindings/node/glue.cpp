// The Node package's WebAssembly module: libqv3's streaming reader and writer, their
// sources and sinks served by the package's JavaScript (node_io.js), each call's error
// kept for the JavaScript to read. No file system and no threads: the JavaScript reads
// and writes files, the format's second thread runs its jobs in turn.

#include <emscripten/emscripten.h>

#include <string>

#include "platform/language.h"
#include "qv3.h"

extern "C" {
// From node_io.js: the JavaScript source or sink with this id.
int qv3_node_read(int id, void* buffer, size_t size);
int qv3_node_rewind(int id);
int qv3_node_write(int id, const void* buffer, size_t size);
}

namespace {

long long Read(void* context, void* buffer, size_t size) {
  return qv3_node_read(static_cast<int>(reinterpret_cast<intptr_t>(context)), buffer, size);
}
int Rewind(void* context) { return qv3_node_rewind(static_cast<int>(reinterpret_cast<intptr_t>(context))); }
int Write(void* context, const void* buffer, size_t size) {
  return qv3_node_write(static_cast<int>(reinterpret_cast<intptr_t>(context)), buffer, size);
}

// The last failure of a call, for the JavaScript that made it (one thread).
struct LastError {
  int code = QV3_OK;
  std::string message;
} g_last;

int Keep(int status, qv3_error* error) {
  g_last.code = status;
  g_last.message = error ? qv3_error_message(error) : "";
  qv3_error_free(error);
  return status;
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int qv3_node_error_code() { return g_last.code; }
EMSCRIPTEN_KEEPALIVE const char* qv3_node_error_message() { return g_last.message.c_str(); }

EMSCRIPTEN_KEEPALIVE qv3_reader* qv3_node_reader_open(int source, double size, const char* name, const char* password,
                                                      int passwordLength, unsigned flags) {
  const qv3_source s = {Read, Rewind, reinterpret_cast<void*>(static_cast<intptr_t>(source)),
                        static_cast<uint64_t>(size)};
  qv3_reader* reader = nullptr;
  qv3_error* error = nullptr;
  Keep(qv3_reader_open(&s, name, password, static_cast<size_t>(passwordLength), flags, &reader, &error), error);
  return reader;
}

// Bytes read into buffer, or -1 with the error kept.
EMSCRIPTEN_KEEPALIVE int qv3_node_reader_read(qv3_reader* reader, void* buffer, int capacity) {
  size_t got = 0;
  qv3_error* error = nullptr;
  if (Keep(qv3_reader_read(reader, buffer, static_cast<size_t>(capacity), &got, &error), error) != QV3_OK) return -1;
  return static_cast<int>(got);
}

EMSCRIPTEN_KEEPALIVE int qv3_node_reader_finish(qv3_reader* reader) {
  qv3_error* error = nullptr;
  return Keep(qv3_reader_finish(reader, &error), error);
}

EMSCRIPTEN_KEEPALIVE void qv3_node_reader_close(qv3_reader* reader) { qv3_reader_close(reader); }

EMSCRIPTEN_KEEPALIVE qv3_writer* qv3_node_writer_open(int sink, const char* name, const char* password,
                                                      int passwordLength, unsigned flags) {
  const qv3_sink s = {Write, reinterpret_cast<void*>(static_cast<intptr_t>(sink))};
  qv3_writer* writer = nullptr;
  qv3_error* error = nullptr;
  Keep(qv3_writer_open(&s, name, password, static_cast<size_t>(passwordLength), flags, &writer, &error), error);
  return writer;
}

EMSCRIPTEN_KEEPALIVE int qv3_node_writer_write(qv3_writer* writer, const void* data, int size) {
  qv3_error* error = nullptr;
  return Keep(qv3_writer_write(writer, data, static_cast<size_t>(size), &error), error);
}

EMSCRIPTEN_KEEPALIVE int qv3_node_writer_finish(qv3_writer* writer) {
  qv3_error* error = nullptr;
  return Keep(qv3_writer_finish(writer, &error), error);
}

EMSCRIPTEN_KEEPALIVE void qv3_node_writer_close(qv3_writer* writer) { qv3_writer_close(writer); }

EMSCRIPTEN_KEEPALIVE const char* qv3_node_container_extension(const char* path, int emptyPassword) {
  return qv3_container_extension(path, emptyPassword);
}

EMSCRIPTEN_KEEPALIVE int qv3_node_exit_status(int code) { return qv3_exit_status(code); }

EMSCRIPTEN_KEEPALIVE int qv3_node_is_container_name(const char* path) { return qv3_is_container_name(path); }

EMSCRIPTEN_KEEPALIVE const char* qv3_node_version() { return qv3_version(); }

// The messages' language, by the rule every program follows, from node's environment
// (null for a variable that is not set).
EMSCRIPTEN_KEEPALIVE void qv3_node_set_language(const char* language, const char* lcAll, const char* lcMessages,
                                                const char* lang) {
  SetPageLanguage(LanguageFromEnvironment(language, lcAll, lcMessages, lang));
}

}  // extern "C"
