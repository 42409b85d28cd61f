#include "platform/selection.h"

#include <windows.h>
#include <sddl.h>

#include <memory>

#include "platform/selection_message.h"
#include "platform/wide_win32.h"

namespace {

// How long the gatherer waits for the next run after the last one came, and at most.
constexpr DWORD kQuietMilliseconds = 1000;
constexpr DWORD kMostMilliseconds = 15000;
constexpr DWORD kMessageLimit = static_cast<DWORD>(kSelectionMessageLimit);
// How often a run tries to gather or hand over before it works alone (a gatherer that
// gave the files back counts as one try).
constexpr int kAttempts = 3;

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

struct LocalFreer {
  void operator()(void* p) const { LocalFree(p); }
};

// What a token says of its process, as a buffer of the class asked for; null when it
// cannot be read.
std::unique_ptr<BYTE[]> TokenInformation(HANDLE process, TOKEN_INFORMATION_CLASS what) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return nullptr;
  Handle owned(token);
  DWORD size = 0;
  GetTokenInformation(token, what, nullptr, 0, &size);
  if (!size) return nullptr;
  std::unique_ptr<BYTE[]> buffer(new BYTE[size]);
  if (!GetTokenInformation(token, what, buffer.get(), size, &size)) return nullptr;
  return buffer;
}

// The SID of the user a process runs as, as text; "" when it cannot be read.
std::wstring UserOf(HANDLE process) {
  const std::unique_ptr<BYTE[]> user = TokenInformation(process, TokenUser);
  wchar_t* text = nullptr;
  if (!user || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid, &text)) return L"";
  std::wstring sid = text;
  LocalFree(text);
  return sid;
}

// A process's integrity level (its mandatory label's last sub-authority: 0x1000 low,
// 0x2000 medium, 0x3000 high); -1 when it cannot be read.
long IntegrityOf(HANDLE process) {
  const std::unique_ptr<BYTE[]> label = TokenInformation(process, TokenIntegrityLevel);
  if (!label) return -1;
  const PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label.get())->Label.Sid;
  if (!IsValidSid(sid) || *GetSidSubAuthorityCount(sid) == 0) return -1;
  return static_cast<long>(*GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1u));
}

DWORD Session(DWORD processId) {
  DWORD session = 0;
  ProcessIdToSessionId(processId, &session);
  return session;
}

// Waits for the overlapped operation on pipe; false when it did not finish in time (it
// is then cancelled) or failed.
bool Finish(HANDLE pipe, OVERLAPPED& overlapped, DWORD milliseconds, DWORD* transferred) {
  if (WaitForSingleObject(overlapped.hEvent, milliseconds) != WAIT_OBJECT_0) {
    CancelIo(pipe);
    GetOverlappedResult(pipe, &overlapped, transferred, TRUE);
    return false;
  }
  return GetOverlappedResult(pipe, &overlapped, transferred, FALSE) != 0;
}

// The event the gatherer sets once its work has ended, under a name no other object
// had (one made before by someone else is not taken); null when none could be made.
Handle MakeFinishedEvent(SECURITY_ATTRIBUTES* attributes, std::string* name) {
  for (unsigned n = 0; n < 16; ++n) {
    *name = "Local\\TarvessinViewer.Finished." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(n);
    Handle event(CreateEventW(attributes, TRUE, FALSE, Wide(*name).c_str()));
    if (event && GetLastError() != ERROR_ALREADY_EXISTS) return event;
  }
  name->clear();
  return nullptr;
}

// The gatherer's side: every run that connects hands its paths over and is told they
// were taken (and the name of the event that will say they are finished), until none
// has come for kQuietMilliseconds.
void GatherInto(HANDLE pipe, const std::string& finishedEvent, std::vector<std::string>& files) {
  Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) return;
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now - start >= kMostMilliseconds) return;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    ResetEvent(event.get());
    DWORD transferred = 0;
    bool connected = ConnectNamedPipe(pipe, &overlapped) != 0;
    if (!connected) {
      const DWORD error = GetLastError();
      if (error == ERROR_PIPE_CONNECTED) {
        connected = true;
      } else if (error == ERROR_IO_PENDING) {
        const DWORD left = static_cast<DWORD>(kMostMilliseconds - (now - start));
        connected = Finish(pipe, overlapped, left < kQuietMilliseconds ? left : kQuietMilliseconds, &transferred);
      }
    }
    if (!connected) return;  // quiet for long enough

    std::string message(kMessageLimit, '\0');
    ResetEvent(event.get());
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event.get();
    bool read = ReadFile(pipe, &message[0], kMessageLimit, &transferred, &overlapped) != 0;
    if (!read && GetLastError() == ERROR_IO_PENDING) read = Finish(pipe, overlapped, kQuietMilliseconds, &transferred);
    std::vector<std::string> theirs;
    if (read) {
      message.resize(transferred);
      read = ReadSelectionMessage(message, theirs);
    }
    if (read) {
      // Taken only once the run has been told: a run that cannot hear it works alone.
      const std::string answer = MakeTakenAnswer(finishedEvent);
      ResetEvent(event.get());
      overlapped = OVERLAPPED{};
      overlapped.hEvent = event.get();
      DWORD written = 0;
      bool told = WriteFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), &written, &overlapped) != 0;
      if (!told && GetLastError() == ERROR_IO_PENDING) told = Finish(pipe, overlapped, kQuietMilliseconds, &written);
      if (told && written == answer.size()) {
        FlushFileBuffers(pipe);
        files.insert(files.end(), theirs.begin(), theirs.end());
      }
    }
    DisconnectNamedPipe(pipe);
  }
}

enum class HandedOver {
  No,         // no gatherer took the files
  Finished,   // the gatherer took them and has finished its work on them
  GivenBack,  // the gatherer took them and ended before finishing
};

// The other side. A gatherer that is not this user's, in this session, at this run's
// integrity level or above, is not given the files.
HandedOver HandOver(const std::wstring& name, const std::wstring& user, const std::vector<std::string>& files) {
  const ULONGLONG start = GetTickCount64();
  HANDLE raw = INVALID_HANDLE_VALUE;
  while ((raw = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr)) == INVALID_HANDLE_VALUE) {
    // Busy with another run: wait for it; gone: nothing to hand over to.
    if (GetLastError() != ERROR_PIPE_BUSY || GetTickCount64() - start > kMostMilliseconds) return HandedOver::No;
    WaitNamedPipeW(name.c_str(), kQuietMilliseconds);
  }
  Handle pipe(raw);
  ULONG serverProcess = 0;
  if (!GetNamedPipeServerProcessId(raw, &serverProcess)) return HandedOver::No;
  Handle server(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, serverProcess));
  if (!server || UserOf(server.get()) != user || Session(serverProcess) != Session(GetCurrentProcessId()))
    return HandedOver::No;
  const long ours = IntegrityOf(GetCurrentProcess()), theirs = IntegrityOf(server.get());
  if (ours < 0 || theirs < ours) return HandedOver::No;

  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(raw, &mode, nullptr, nullptr);
  std::string message;
  if (!MakeSelectionMessage(files, &message)) return HandedOver::No;
  DWORD transferred = 0;
  if (!WriteFile(raw, message.data(), static_cast<DWORD>(message.size()), &transferred, nullptr) ||
      transferred != message.size())
    return HandedOver::No;
  std::string answer(kMessageLimit, '\0');
  std::string finishedEvent;
  if (!ReadFile(raw, &answer[0], kMessageLimit, &transferred, nullptr)) return HandedOver::No;
  answer.resize(transferred);
  if (!ReadTakenAnswer(answer, &finishedEvent)) return HandedOver::No;
  pipe.reset();

  // Taken: wait for the gatherer's word that it has finished, or for its end. Without
  // its event (none made, or it cannot be opened) the end is taken for the word: the
  // files are never worked on twice.
  Handle finished(finishedEvent.empty() ? nullptr : OpenEventW(SYNCHRONIZE, FALSE, Wide(finishedEvent).c_str()));
  if (!finished) {
    WaitForSingleObject(server.get(), INFINITE);
    return HandedOver::Finished;
  }
  const HANDLE waits[] = {finished.get(), server.get()};
  WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  return WaitForSingleObject(finished.get(), 0) == WAIT_OBJECT_0 ? HandedOver::Finished : HandedOver::GivenBack;
}

}  // namespace

struct SelectionGathering::State {
  Handle finished;  // set when this run, the gatherer, has finished its work
};

SelectionGathering::SelectionGathering() : m_state(new State) {}

SelectionGathering::~SelectionGathering() {
  if (m_state->finished) SetEvent(m_state->finished.get());
}

bool SelectionGathering::Gather(const std::string& road, std::vector<std::string>& files) {
  const std::wstring user = UserOf(GetCurrentProcess());
  if (user.empty()) return true;
  const std::wstring name = L"\\\\.\\pipe\\TarvessinViewer." + Wide(road) + L"." + user + L"." +
                            std::to_wstring(Session(GetCurrentProcessId()));
  // Only this user may connect, or open the finished event.
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW((L"D:P(A;;GA;;;" + user + L")").c_str(),
                                                            SDDL_REVISION_1, &raw, nullptr))
    return true;
  const std::unique_ptr<void, LocalFreer> descriptor(raw);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  // A gatherer that stops between a run's two tries leaves the name free: the run then
  // gathers itself; one that took the files and ended before finishing gives them back,
  // and the runs it took them from gather again.
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    Handle pipe(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                 kMessageLimit, kMessageLimit, 0, &attributes));
    if (pipe.get() != INVALID_HANDLE_VALUE) {
      std::string finishedEvent;
      m_state->finished = MakeFinishedEvent(&attributes, &finishedEvent);
      GatherInto(pipe.get(), finishedEvent, files);
      return true;
    }
    if (HandOver(name, user, files) == HandedOver::Finished) return false;
  }
  return true;
}
