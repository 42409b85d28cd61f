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
#include "container/password_rule.h"
#include "container/system_error_exception.h"
#include "crypto/secure.h"
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
  // A refusal of the engine's own, before any work: no failure kind, its text only.
  void Refuse(const std::string& message) {
    m_failed = true;
    m_refused = true;
    m_message = message;
  }
  bool Failed() const { return m_failed; }
  bool Refused() const { return m_refused; }
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
  bool m_refused = false;
  Failure m_failure{FailureKind::Unreadable, 0, ""};
  std::string m_message;
};

// Plaintext is handed on in pieces of this size: large enough for one JavaScript call to
// cost nothing beside the work, small enough to keep the worker's memory flat.
constexpr size_t kPiece = 1024 * 1024;

// Reads a container: its layout a step at a time (a long extension section honours Cancel
// and shows progress like the data), then the password's candidates, then the data. A
// probe stops after the layout and learns whether the empty password opens the container
// (tried only where its name carries a category extension), never reading the data.
class DecryptSession : public Session {
 public:
  enum class Probe { NotAsked, NeedsPassword, OpensWithout };

  DecryptSession(int source, uint64_t size, int sink, const std::string& name, PasswordCandidates candidates,
                 bool probe)
      : Session(source, size, sink, name),
        m_reader(m_source, name),
        m_candidates(std::move(candidates)),
        m_probe(probe ? Probe::NeedsPassword : Probe::NotAsked) {}

  // The name rule first: the checks of the desktop engines, in their order.
  void Open() {
    Guard([&] {
      switch (PlaintextPath(m_name, false, std::string(), &m_outputName)) {
        case PlaintextNameProblem::Invalid: throw SystemErrorException(FailureKind::InvalidName, 0, m_name);
        case PlaintextNameProblem::Odd: throw SystemErrorException(FailureKind::OddName, 0, m_name);
        case PlaintextNameProblem::NotContainer:
          throw SystemErrorException(FailureKind::NotAContainerName, 0, m_name);
        case PlaintextNameProblem::None: break;
      }
    });
  }

  Probe probe() const { return m_probe; }

 private:
  bool Work(double budget) override {
    if (!m_unlocked) {
      const bool read = m_reader.ReadLayoutStep(static_cast<uint64_t>(std::max(budget, 1.0)));
      const ContainerLayout& layout = m_reader.layout();
      m_total = layout.size - layout.overhead;
      m_done = m_reader.LayoutBytesRead();
      if (!read) return false;
      if (m_probe != Probe::NotAsked) {
        if (layout.version != 0 && HasCategoryExtension(m_name)) {
          PasswordCandidates empty;
          empty.Add("", 0);
          try {
            m_reader.Unlock(empty);
            m_probe = Probe::OpensWithout;
          } catch (const SystemErrorException& e) {
            if (e.m_failure.kind != FailureKind::KeyBlockMac) throw;
          }
        }
        return true;
      }
      m_reader.Unlock(m_candidates);
      m_candidates = PasswordCandidates();
      m_unlocked = true;
      return false;  // the data in the next steps
    }
    // No bigger than the container needs: each step wipes it.
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kPiece, std::max<uint64_t>(16, m_reader.layout().cipherLength)));
    if (m_buffer.size() < want) m_buffer.resize(want);
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
  PasswordCandidates m_candidates;
  Probe m_probe;
  bool m_unlocked = false;
};

class EncryptSession : public Session {
 public:
  EncryptSession(int source, uint64_t size, int sink, const std::string& name)
      : Session(source, size, sink, name), m_size(size) {}

  // The typed text becomes the one form a new container is keyed with (a refusal names
  // the characters no form keeps, and nothing is written); the container is named by
  // the engine's rule: generic "aqv3" with a password, the kind's extension without.
  void Open(const std::string& typed) {
    const NewPassword made = MakingPassword(typed, kPromptPasswordBytes);
    if (!made.accepted) {
      Refuse(NewPasswordRefusal(made));
      return;
    }
    m_outputName = m_name + "." + ChooseEncryptedExtension(m_name.c_str(), !made.bytes.empty());
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
      m_writer->WriteHead(fileIv, material, made.bytes.data(), made.bytes.size());
    });
  }

 private:
  bool Work(double budget) override {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(kPiece, std::max<uint64_t>(16, m_size)));
    if (m_buffer.size() < piece) m_buffer.resize(piece);
    for (double used = 0; used < budget && m_done < m_size;) {
      uint32_t got = 0;
      const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(piece, m_size - m_done));
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

// The password as the page's field gives it (typed: UTF-8, tried as every form it may
// have been keyed with) or as bytes given exactly (a password file's, in the tests: those
// bytes first, then the forms of their text); the empty one first for a container with
// a category extension.
PasswordCandidates Candidates(const char* name, const char* password, int length, bool given) {
  std::string bytes(password, static_cast<size_t>(length));
  PasswordCandidates candidates =
      CandidatesForContainer(name, given ? GivenPasswordCandidates(bytes) : OpeningCandidates(bytes));
  SecureWipe(&bytes[0], bytes.size());
  return candidates;
}

uint64_t ToSize(double size) { return size > 0 ? static_cast<uint64_t>(size) : 0; }

}  // namespace

extern "C" {

// Opens a container read from source (size bytes, named name), each candidate of the
// password (typed text, or bytes given exactly when given is 1) tried on it in turn;
// its plaintext goes to sink as the steps go. Never null; a failure is kept in the
// session (qv3_session_failed).
EMSCRIPTEN_KEEPALIVE Session* qv3_decrypt_open(int source, double size, int sink, const char* name,
                                               const char* password, int length, int given) {
  auto* s = new DecryptSession(source, ToSize(size), sink, name, Candidates(name, password, length, given != 0),
                               false);
  s->Open();
  return s;
}

// What can be told of a container before anyone is asked for its password: its steps
// fail as decryption would (the name, the size, the signature, the version, the
// extensions), or end with qv3_session_probe telling whether the empty password opens it.
EMSCRIPTEN_KEEPALIVE Session* qv3_probe_open(int source, double size, const char* name) {
  auto* s = new DecryptSession(source, ToSize(size), -1, name, PasswordCandidates(), true);
  s->Open();
  return s;
}

// After a probe's last step: 1 when the empty password opens the container, else 0.
EMSCRIPTEN_KEEPALIVE int qv3_session_probe(Session* s) {
  auto* d = dynamic_cast<DecryptSession*>(s);
  return d && d->probe() == DecryptSession::Probe::OpensWithout ? 1 : 0;
}

// Starts a version 2 container of the plaintext read from source (size bytes, named
// name), written to sink, keyed with the making form of the typed text (UTF-8, length
// bytes); a text no form keeps is refused (qv3_session_refused) before anything is
// written.
EMSCRIPTEN_KEEPALIVE Session* qv3_encrypt_open(int source, double size, int sink, const char* name,
                                               const char* password, int length) {
  auto* s = new EncryptSession(source, ToSize(size), sink, name);
  std::string typed(password, static_cast<size_t>(length));
  s->Open(typed);
  SecureWipe(&typed[0], typed.size());
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
// 1 when the engine refused the work before it began (a new password no form keeps).
EMSCRIPTEN_KEEPALIVE int qv3_session_refused(Session* s) { return s->Refused() ? 1 : 0; }
// The failure's kind as the container code names it (0 based), -1 when none.
EMSCRIPTEN_KEEPALIVE int qv3_session_failure_kind(Session* s) {
  return s->Failed() && !s->Refused() ? static_cast<int>(s->failure().kind) : -1;
}
// The text the user reads: the engine's own message and, for a system error, its text.
EMSCRIPTEN_KEEPALIVE const char* qv3_session_message(Session* s) { return s->message().c_str(); }
// The plaintext's name (decryption) or the container's (encryption).
EMSCRIPTEN_KEEPALIVE const char* qv3_session_output_name(Session* s) { return s->outputName().c_str(); }
EMSCRIPTEN_KEEPALIVE int qv3_session_percent(Session* s) { return static_cast<int>(s->Percent()); }
// Wipes the keys.
EMSCRIPTEN_KEEPALIVE void qv3_session_free(Session* s) { delete s; }

// What counts of the typed text (UTF-8, length bytes), in the page's language: for a
// new container (making 1) the form it is keyed with, or its refusal naming the
// characters (then *refused is 1); for opening, the first form tried.
EMSCRIPTEN_KEEPALIVE const char* qv3_password_hint(const char* typed, int length, int making, int* refused) {
  static std::string text;
  std::string given(typed, static_cast<size_t>(length));
  *refused = 0;
  if (making) {
    const NewPassword made = MakingPassword(given, kPromptPasswordBytes);
    if (!given.empty() && !made.accepted) {
      *refused = 1;
      text = NewPasswordRefusal(made);
    } else {
      text = NewPasswordHint(given);
    }
  } else {
    text = OpeningPasswordHint(given);
  }
  SecureWipe(&given[0], given.size());
  return text.c_str();
}

// The extensions a container carries, as a file picker's accept list: ".aqv3,.pqv3,...".
EMSCRIPTEN_KEEPALIVE const char* qv3_container_accept() {
  static std::string list;
  if (list.empty())
    for (const std::string& extension : ContainerExtensions()) list += (list.empty() ? "." : ",.") + extension;
  return list.c_str();
}

// The language rule on the browser's languages (its tags, best first, separated by
// commas): 1 English, 0 Korean. Korean where Korean comes before English or no language
// is given; English where English comes first or only other languages are given.
EMSCRIPTEN_KEEPALIVE int qv3_language_of(const char* tags) {
  std::string list(tags);
  if (list.empty()) return 0;
  std::replace(list.begin(), list.end(), ',', ':');
  std::replace(list.begin(), list.end(), '-', '_');
  // A language tag's letter case means nothing.
  for (char& c : list)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  // A locale of no language of its own is set: the list decides, as it does for the
  // programs.
  return LanguageFromEnvironment(list.c_str(), nullptr, nullptr, "und") == Language::English ? 1 : 0;
}

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
// found, 1 input or output failed, 2 access denied, 3 no space left, 4 the name is taken.
// (The engine's C library numbers them its own way.)
EMSCRIPTEN_KEEPALIVE int qv3_system_error(int which) {
  static const int kCodes[] = {ENOENT, EIO, EACCES, ENOSPC, EEXIST};
  return which >= 0 && which < 5 ? kCodes[which] : EIO;
}

}  // extern "C"
