// The streaming reader and writer: the container format over the caller's callbacks.
// Portable: the WebAssembly build has these without any file.

#include <cstring>
#include <ctime>
#include <memory>

#include "capi/internal.h"
#include "container/format.h"
#include "container/key_material.h"
#include "container/system_error_exception.h"
#include "crypto/secure.h"
#include "platform/random.h"
#include "platform/system_error.h"

namespace {

// The caller's source as the format reads it. A failed read is an unreadable container
// (the reader names the part it was reading).
class CallbackSource : public ContainerSource {
 public:
  explicit CallbackSource(const qv3_source& source) : m_source(source) {}
  uint32_t GetSize(uint64_t* size) override {
    *size = m_source.size;
    return 0;
  }
  uint32_t Read(void* buffer, uint32_t count, uint32_t* read) override {
    *read = 0;
    while (*read < count) {
      const long long got = m_source.read(m_source.context, static_cast<uint8_t*>(buffer) + *read, count - *read);
      if (got < 0 || static_cast<unsigned long long>(got) > count - *read) return capi::kCallbackFailed;
      if (got == 0) break;
      *read += static_cast<uint32_t>(got);
    }
    return 0;
  }
  uint32_t Rewind() override {
    if (!m_source.rewind || m_source.rewind(m_source.context) != 0) return capi::kCallbackFailed;
    return 0;
  }

 private:
  qv3_source m_source;
};

class CallbackSink : public ContainerSink {
 public:
  explicit CallbackSink(const qv3_sink& sink) : m_sink(sink) {}
  uint32_t Write(const void* buffer, uint32_t count) override {
    return m_sink.write(m_sink.context, buffer, count) != 0 ? capi::kCallbackFailed : 0;
  }

 private:
  qv3_sink m_sink;
};

}  // namespace

namespace capi {

struct Reader {
  std::unique_ptr<ContainerSource> owned;  // the file of qv3_reader_open_file
  std::unique_ptr<ContainerSource> callbacks;
  std::unique_ptr<ContainerReader> reader;
  bool finished = false;
  bool failed = false;  // a call failed: the reader gives nothing more
};

struct Writer {
  std::unique_ptr<CallbackSink> sink;
  std::unique_ptr<ContainerWriter> writer;
  bool failed = false;
  bool finished = false;
};
inline Reader* Of(qv3_reader* reader) { return reinterpret_cast<Reader*>(reader); }
inline Writer* Of(qv3_writer* writer) { return reinterpret_cast<Writer*>(writer); }

// Opens a reader over source (kept by the reader). Used by qv3_reader_open_file too.
int OpenReader(std::unique_ptr<ContainerSource> source, bool ownsFile, const std::string& name,
               const char* password, size_t length, unsigned flags, qv3_reader** reader, qv3_error** error) {
  PasswordCandidates passwords;
  if (const int status = OpeningPasswords(password, length, flags, &passwords, error)) return status;
  try {
    auto made = std::make_unique<Reader>();
    ContainerSource& raw = *source;
    (ownsFile ? made->owned : made->callbacks) = std::move(source);
    made->reader = std::make_unique<ContainerReader>(raw, name);
    made->reader->ReadLayout();
    made->reader->Unlock(CandidatesForContainer(name, passwords));
    *reader = reinterpret_cast<qv3_reader*>(made.release());
    return QV3_OK;
  } catch (...) {
    return FailFromCurrentException(error);
  }
}

}  // namespace capi

extern "C" {

int qv3_reader_open(const qv3_source* source, const char* name, const char* password, size_t password_len,
                    unsigned flags, qv3_reader** reader, qv3_error** error) {
  if (error) *error = nullptr;
  if (!reader || !source || !source->read)
    return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_reader_open: source, reader");
  *reader = nullptr;
  std::unique_ptr<ContainerSource> callbacks;
  try {
    callbacks = std::make_unique<CallbackSource>(*source);
  } catch (...) {
    return capi::FailFromCurrentException(error);
  }
  return capi::OpenReader(std::move(callbacks), false, name ? name : "", password, password_len, flags, reader,
                          error);
}

int qv3_reader_read(qv3_reader* handle, void* buffer, size_t capacity, size_t* got, qv3_error** error) {
  if (error) *error = nullptr;
  capi::Reader* reader = capi::Of(handle);
  if (got) *got = 0;
  if (!reader || !buffer || !got || capacity < 16)
    return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_reader_read: reader, buffer, got, capacity");
  if (reader->failed || reader->finished)
    return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_reader_read: the reader has ended");
  try {
    // The format's reader takes at most what a 32-bit read can.
    const size_t asked = capacity > (1u << 30) ? (1u << 30) : capacity;
    *got = reader->reader->ReadPlaintext(static_cast<uint8_t*>(buffer), asked);
    return QV3_OK;
  } catch (...) {
    reader->failed = true;
    return capi::FailFromCurrentException(error);
  }
}

int qv3_reader_finish(qv3_reader* handle, qv3_error** error) {
  if (error) *error = nullptr;
  capi::Reader* reader = capi::Of(handle);
  if (!reader) return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_reader_finish: reader");
  if (reader->failed) return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_reader_finish: the reader has failed");
  if (reader->finished) return QV3_OK;
  try {
    // What the caller did not read is read (and thrown away) so the MAC covers it all.
    uint8_t rest[64 * 1024];
    while (reader->reader->ReadPlaintext(rest, sizeof rest) > 0) {
    }
    SecureWipe(rest, sizeof rest);
    reader->reader->Finish();
    reader->finished = true;
    return QV3_OK;
  } catch (...) {
    reader->failed = true;
    return capi::FailFromCurrentException(error);
  }
}

void qv3_reader_close(qv3_reader* reader) { delete capi::Of(reader); }

int qv3_writer_open(const qv3_sink* sink, const char* name, const char* password, size_t password_len,
                    unsigned flags, qv3_writer** writer, qv3_error** error) {
  if (error) *error = nullptr;
  if (!writer || !sink || !sink->write)
    return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_writer_open: sink, writer");
  *writer = nullptr;
  std::string bytes;
  StringWipe wipeBytes(bytes);
  if (const int status = capi::MakingBytes(password, password_len, flags, &bytes, error)) return status;
  try {
    auto made = std::make_unique<capi::Writer>();
    made->sink = std::make_unique<CallbackSink>(*sink);
    SystemRandomSource random;
    if (!random.Acquire()) throw SystemErrorException(FailureKind::NoCryptoProvider, LastSystemError(), "");
    uint8_t material[kKeyBlockSize];
    ScopedWipe wipeMaterial(material, sizeof material);
    MakeBulkIvAndKey(random, material);
    uint8_t fileIv[16];
    const std::string path = name ? name : "";
    // The plaintext's size is not known ahead of a stream; the IV's random part is what
    // makes it unique.
    MakeFileIv(random, static_cast<uint64_t>(std::time(nullptr)), 0, path, fileIv);
    made->writer = std::make_unique<ContainerWriter>(*made->sink, path);
    made->writer->WriteHead(fileIv, material, bytes.data(), bytes.size());
    *writer = reinterpret_cast<qv3_writer*>(made.release());
    return QV3_OK;
  } catch (...) {
    return capi::FailFromCurrentException(error);
  }
}

int qv3_writer_write(qv3_writer* handle, const void* data, size_t size, qv3_error** error) {
  if (error) *error = nullptr;
  capi::Writer* writer = capi::Of(handle);
  if (!writer || (!data && size > 0)) return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_writer_write: writer, data");
  if (writer->failed || writer->finished)
    return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_writer_write: the writer has ended");
  try {
    writer->writer->WritePlaintext(static_cast<const uint8_t*>(data), size);
    return QV3_OK;
  } catch (...) {
    writer->failed = true;
    return capi::FailFromCurrentException(error);
  }
}

int qv3_writer_finish(qv3_writer* handle, qv3_error** error) {
  if (error) *error = nullptr;
  capi::Writer* writer = capi::Of(handle);
  if (!writer) return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_writer_finish: writer");
  if (writer->failed) return capi::Fail(error, QV3_INVALID_ARGUMENT, "qv3_writer_finish: the writer has failed");
  if (writer->finished) return QV3_OK;
  try {
    writer->writer->Finish();
    writer->writer->Settle();
    writer->finished = true;
    return QV3_OK;
  } catch (...) {
    writer->failed = true;
    return capi::FailFromCurrentException(error);
  }
}

void qv3_writer_close(qv3_writer* handle) {
  capi::Writer* writer = capi::Of(handle);
  if (!writer) return;
  try {
    if (writer->writer) writer->writer->Settle();
  } catch (...) {
  }
  delete writer;
}

}  // extern "C"
