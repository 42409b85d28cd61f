// The WebAssembly boundary: what the page's worker (and node, in tests) calls to read and
// write containers with the format's own reader and writer. Every entry point catches what
// the engine throws and keeps the failure as a value in its session: a C++ exception that
// escaped to JavaScript would arrive there as a bare number.
//
// A session reads its input and writes its output through JavaScript (engine_io.js), by
// the numbers the caller registered them under, a chunk per call: the engine never holds
// a whole container or plaintext. Work is done in steps of a bounded size so the caller
// can report progress and take a Cancel between two steps.

#include <emscripten/emscripten.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "container/failure.h"
#include "container/format.h"
#include "container/io.h"
#include "container/key_material.h"
#include "container/naming.h"
#include "container/system_error_exception.h"
#include "crypto/secure.h"
#include "platform/codepage.h"
#include "platform/language.h"
#include "platform/random.h"
#include "platform/system_error.h"

extern "C" {
// engine_io.js: reads up to count bytes of source at position into buffer; returns the
// count read (0 only at the end of the data) or minus a system error code
// (qv3_system_error).
int qv3_io_read(int source, uint8_t* buffer, uint32_t count, double position);
// Writes all count bytes to sink; returns 0 or a system error code.
int qv3_io_write(int sink, const uint8_t* buffer, uint32_t count);
}

namespace {

// A source of known size, read in order from its start.
class JsSource : public ContainerSource {
 public:
  JsSource(int id, uint64_t size) : m_id(id), m_size(size) {}
  uint32_t GetSize(uint64_t* size) override {
    *size = m_size;
    return 0;
  }
  uint32_t Read(void* buffer, uint32_t count, uint32_t* read) override {
    *read = 0;
    const uint64_t left = m_size - m_position;
    count = static_cast<uint32_t>(std::min<uint64_t>(count, left));
    if (count == 0) return 0;
    const int n = qv3_io_read(m_id, static_cast<uint8_t*>(buffer), count, static_cast<double>(m_position));
    if (n < 0) return static_cast<uint32_t>(-n);
    m_position += static_cast<uint32_t>(n);
    *read = static_cast<uint32_t>(n);
    return 0;
  }
  uint32_t Rewind() override {
    m_position = 0;
    return 0;
  }

 private:
  int m_id;
  uint64_t m_size;
  uint64_t m_position = 0;
};

class JsSink : public ContainerSink {
 public:
  explicit JsSink(int id) : m_id(id) {}
  uint32_t Write(const void* buffer, uint32_t count) override {
    if (count == 0) return 0;
    return static_cast<uint32_t>(qv3_io_write(m_id, static_cast<const uint8_t*>(buffer), count));
  }

 private:
  int m_id;
};

enum StepResult { kFailed = -1, kMore = 0, kDone = 1 };

// What both directions share: the failure kept as a value, the output's name and the
// progress of the work.
class Session {
 public:
  Session(int source, uint64_t size, int sink, std::string name)
      : m_source(source, size), m_sink(sink), m_name(std::move(name)) {}
  virtual ~Session() = default;

  // Runs until about budget bytes have been processed or the work is done.
  StepResult Step(double budget) {
    if (Failed()) return kFailed;
    if (m_finished) return kDone;
    const bool ok = Guard([&] { m_finished = Work(budget); });
    SecureWipe(m_buffer.data(), m_buffer.size());
    if (!ok) return kFailed;
    return m_finished ? kDone : kMore;
  }

  void Fail(const Failure& failure) {
    m_failed = true;
    m_failure = failure;
    m_message = AppendSystemErrorText(FailureText(failure), failure.code);
  }
  bool Failed() const { return m_failed; }
  const Failure& failure() const { return m_failure; }
  const std::string& message() const { return m_message; }
  const std::string& outputName() const { return m_outputName; }
  unsigned Percent() const { return m_total ? static_cast<unsigned>(m_done * 100 / m_total) : 100; }

 protected:
  // Works for about budget bytes, through m_buffer; true once all the work is done.
  virtual bool Work(double budget) = 0;

  // Runs work, keeping what it throws as this session's failure; false when it threw.
  template <typename F>
  bool Guard(F work) {
    try {
      work();
      return true;
    } catch (const SystemErrorException& e) {
      Fail(e.m_failure);
    } catch (const std::bad_alloc&) {
      Fail({FailureKind::MemoryAllocation, 0, ""});
    } catch (const std::system_error&) {
      // This build has no threads: work meant for a second thread cannot start.
      Fail({FailureKind::ThreadCreation, 0, ""});
    }
    return false;
  }

  JsSource m_source;
  JsSink m_sink;
  std::string m_name;
  std::vector<uint8_t> m_buffer;
  std::string m_outputName;
  uint64_t m_total = 0;  // what progress counts, as the desktop engines count it
  uint64_t m_done = 0;

 private:
  bool m_finished = false;
  bool m_failed = false;
  Failure m_failure{FailureKind::Unreadable, 0, ""};
  std::string m_message;
};

// Plaintext is handed on in pieces of this size: large enough for one JavaScript call to
// cost nothing beside the work, small enough to keep the worker's memory flat.
constexpr size_t kPiece = 1024 * 1024;

class DecryptSession : public Session {
 public:
  DecryptSession(int source, uint64_t size, int sink, const std::string& name)
      : Session(source, size, sink, name), m_reader(m_source, name) {}

  // The name rule, the layout, then the password: the checks of the desktop engines, in
  // their order.
  void Open(const char* password, size_t length) {
    Guard([&] {
      switch (PlaintextPath(m_name, false, std::string(), &m_outputName)) {
        case PlaintextNameProblem::Invalid: throw SystemErrorException(FailureKind::InvalidName, 0, m_name);
        case PlaintextNameProblem::Odd: throw SystemErrorException(FailureKind::OddName, 0, m_name);
        case PlaintextNameProblem::NotContainer:
          throw SystemErrorException(FailureKind::NotAContainerName, 0, m_name);
        case PlaintextNameProblem::None: break;
      }
      const ContainerLayout& layout = m_reader.ReadLayout();
      m_total = layout.size - layout.overhead;
      m_reader.Unlock(password, length);
    });
  }

 private:
  bool Work(double budget) override {
    if (m_buffer.size() < kPiece) m_buffer.resize(kPiece);
    for (double used = 0; used < budget && m_reader.CipherRemaining() > 0;) {
      const size_t got = m_reader.ReadPlaintext(m_buffer.data(), m_buffer.size());
      const uint32_t status = m_sink.Write(m_buffer.data(), static_cast<uint32_t>(got));
      if (status != 0) throw SystemErrorException(FailureKind::NextWriteFailed, status, m_outputName);
      used += static_cast<double>(got);
    }
    m_done = m_total - std::min(m_total, m_reader.CipherRemaining());
    if (m_reader.CipherRemaining() > 0) return false;
    m_reader.Finish();
    return true;
  }

  ContainerReader m_reader;
};

class EncryptSession : public Session {
 public:
  EncryptSession(int source, uint64_t size, int sink, const std::string& name)
      : Session(source, size, sink, name), m_size(size) {}

  // The container is named by the engine's rule: generic "aqv3" when a password is
  // given, the kind's extension otherwise.
  void Open(const char* password, size_t length) {
    m_outputName = m_name + "." + ChooseEncryptedExtension(m_name.c_str(), length > 0);
    m_total = m_size;
    Guard([&] {
      SystemRandomSource random;
      if (!random.Acquire()) throw SystemErrorException(FailureKind::NoCryptoProvider, 0, "");
      uint8_t material[kKeyBlockSize];
      ScopedWipe wipe(material, sizeof material);
      MakeBulkIvAndKey(random, material);
      uint8_t fileIv[16];
      MakeFileIv(random, static_cast<uint64_t>(std::time(nullptr)), m_size, m_name, fileIv);
      m_writer.reset(new ContainerWriter(m_sink, m_outputName));
      m_writer->WriteHead(fileIv, material, password, length);
    });
  }

 private:
  bool Work(double budget) override {
    if (m_buffer.size() < kPiece) m_buffer.resize(kPiece);
    for (double used = 0; used < budget && m_done < m_size;) {
      uint32_t got = 0;
      const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kPiece, m_size - m_done));
      const uint32_t status = m_source.Read(m_buffer.data(), want, &got);
      if (status != 0 || got == 0)
        throw SystemErrorException(FailureKind::Unreadable, status ? status : EndOfFileError(), m_name);
      m_writer->WritePlaintext(m_buffer.data(), got);
      m_done += got;
      used += got;
    }
    if (m_done < m_size) return false;
    m_writer->Finish();
    return true;
  }

  uint64_t m_size;
  std::unique_ptr<ContainerWriter> m_writer;
};

uint64_t ToSize(double size) { return size > 0 ? static_cast<uint64_t>(size) : 0; }

}  // namespace

extern "C" {

// Opens a container read from source (size bytes, named name) with the password's
// length bytes, writing its plaintext to sink as it goes. Never null; a failure is kept
// in the session (qv3_session_failed).
EMSCRIPTEN_KEEPALIVE Session* qv3_decrypt_open(int source, double size, int sink, const char* name,
                                               const char* password, int length) {
  auto* s = new DecryptSession(source, ToSize(size), sink, name);
  s->Open(password, static_cast<size_t>(length));
  return s;
}

// Starts a version 2 container of the plaintext read from source (size bytes, named
// name), written to sink.
EMSCRIPTEN_KEEPALIVE Session* qv3_encrypt_open(int source, double size, int sink, const char* name,
                                               const char* password, int length) {
  auto* s = new EncryptSession(source, ToSize(size), sink, name);
  s->Open(password, static_cast<size_t>(length));
  return s;
}

// Works for about budget bytes: 1 when the work is done (a plaintext only once its
// container has authenticated), 0 when there is more, -1 on failure.
EMSCRIPTEN_KEEPALIVE int qv3_session_step(Session* s, double budget) { return s->Step(budget); }

// The language of every text the engine makes from now on: 1 English, 0 Korean.
EMSCRIPTEN_KEEPALIVE void qv3_set_language(int english) {
  SetPageLanguage(english ? Language::English : Language::Korean);
}

EMSCRIPTEN_KEEPALIVE int qv3_session_failed(Session* s) { return s->Failed() ? 1 : 0; }
// The failure's kind as the container code names it (0 based), -1 when none.
EMSCRIPTEN_KEEPALIVE int qv3_session_failure_kind(Session* s) {
  return s->Failed() ? static_cast<int>(s->failure().kind) : -1;
}
// The text the user reads: the engine's own message and, for a system error, its text.
EMSCRIPTEN_KEEPALIVE const char* qv3_session_message(Session* s) { return s->message().c_str(); }
// The plaintext's name (decryption) or the container's (encryption).
EMSCRIPTEN_KEEPALIVE const char* qv3_session_output_name(Session* s) { return s->outputName().c_str(); }
EMSCRIPTEN_KEEPALIVE int qv3_session_percent(Session* s) { return static_cast<int>(s->Percent()); }
// Wipes the keys.
EMSCRIPTEN_KEEPALIVE void qv3_session_free(Session* s) { delete s; }

// What the password does to the container's key block: 0 opens it, 1 does not, 2 cannot
// tell (version 0, or a container refused before its key block).
EMSCRIPTEN_KEEPALIVE int qv3_check_password(int source, double size, const char* name, const char* password,
                                            int length) {
  JsSource in(source, ToSize(size));
  try {
    switch (CheckPassword(in, name, password, static_cast<size_t>(length))) {
      case PasswordCheck::Opens: return 0;
      case PasswordCheck::Wrong: return 1;
      case PasswordCheck::Undecided: return 2;
    }
  } catch (...) {
    // Refused before the key block, or no memory: the run itself will say why.
  }
  return 2;
}

// The code page 949 bytes of the UTF-8 text, the form a Korean Windows system keyed its
// containers with, into out (capacity bytes). Returns their count, or -1 when the text
// has a character code page 949 lacks or does not fit.
// The text of an output that could not be created (stage 0) or completed once the engine
// was done with it (stage 1: its last writes or its closing failed), worded as the
// desktop engines word them, for the output named after input by the engine's rules
// (generic: the container of a non-empty password).
EMSCRIPTEN_KEEPALIVE const char* qv3_output_failure(int encrypt, int generic, int stage, const char* input,
                                                    int code) {
  static std::string text;
  std::string output;
  if (encrypt)
    output = std::string(input) + "." + ChooseEncryptedExtension(input, generic != 0);
  else if (PlaintextPath(input, false, std::string(), &output) != PlaintextNameProblem::None)
    output = input;
  const FailureKind kind = stage == 1 ? FailureKind::WriteFailed
                           : encrypt  ? FailureKind::OutputNotOpened
                                      : FailureKind::OutputNotCreated;
  const Failure failure{kind, static_cast<uint32_t>(code), output};
  text = AppendSystemErrorText(FailureText(failure), failure.code);
  return text.c_str();
}

// The system error codes JavaScript reports its failures with, by what happened: 0 not
// found, 1 input or output failed, 2 access denied, 3 no space left. (The engine's C
// library numbers them its own way.)
EMSCRIPTEN_KEEPALIVE int qv3_system_error(int which) {
  static const int kCodes[] = {ENOENT, EIO, EACCES, ENOSPC};
  return which >= 0 && which < 4 ? kCodes[which] : EIO;
}

EMSCRIPTEN_KEEPALIVE int qv3_cp949_form(const char* utf8, int length, char* out, int capacity) {
  std::string in(utf8, static_cast<size_t>(length)), converted;
  const bool ok = Utf8ToCp949(in, &converted);
  int result = -1;
  if (ok && converted.size() <= static_cast<size_t>(capacity)) {
    std::memcpy(out, converted.data(), converted.size());
    result = static_cast<int>(converted.size());
  }
  SecureWipe(&in[0], in.size());
  SecureWipe(&converted[0], converted.size());
  return result;
}

}  // extern "C"
