#include "platform/selection.h"

#include <windows.h>
#include <sddl.h>

#include <memory>

#include "platform/wide_win32.h"

namespace {

// How long the gatherer waits for the next run after the last one came, and at most.
constexpr DWORD kQuietMilliseconds = 1000;
constexpr DWORD kMostMilliseconds = 15000;
constexpr DWORD kMessageLimit = 64 * 1024;
const char kTaken = 'T';

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The SID of the user a process runs as, as text; "" when it cannot be read.
std::wstring UserOf(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return L"";
  Handle owned(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::unique_ptr<BYTE[]> buffer(new BYTE[size ? size : 1]);
  if (!size || !GetTokenInformation(token, TokenUser, buffer.get(), size, &size)) return L"";
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &text)) return L"";
  std::wstring sid = text;
  LocalFree(text);
  return sid;
}

DWORD Session(DWORD processId) {
  DWORD session = 0;
  ProcessIdToSessionId(processId, &session);
  return session;
}

// The paths, each ended by a zero byte.
std::string Message(const std::vector<std::string>& files) {
  std::string message;
  for (const std::string& file : files) message.append(file).push_back('\0');
  return message;
}

void AppendPaths(const std::string& message, std::vector<std::string>& files) {
  for (size_t at = 0; at < message.size();) {
    const size_t end = message.find('\0', at);
    if (end == std::string::npos) break;  // a cut message: its last name is not taken
    files.push_back(message.substr(at, end - at));
    at = end + 1;
  }
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

// The gatherer's side: every run that connects hands its paths over and is told they
// were taken, until none has come for kQuietMilliseconds.
void Gather(HANDLE pipe, std::vector<std::string>& files) {
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
    if (read) {
      message.resize(transferred);
      // Taken only once the run has been told: a run that cannot hear it works alone.
      ResetEvent(event.get());
      overlapped = OVERLAPPED{};
      overlapped.hEvent = event.get();
      DWORD written = 0;
      bool told = WriteFile(pipe, &kTaken, 1, &written, &overlapped) != 0;
      if (!told && GetLastError() == ERROR_IO_PENDING) told = Finish(pipe, overlapped, kQuietMilliseconds, &written);
      if (told && written == 1) {
        FlushFileBuffers(pipe);
        AppendPaths(message, files);
      }
    }
    DisconnectNamedPipe(pipe);
  }
}

// The other side: true once the gatherer has said it took the files. A gatherer that is
// not this user's, in this session, is not given them.
bool HandOver(const std::wstring& name, const std::wstring& user, const std::vector<std::string>& files) {
  const ULONGLONG start = GetTickCount64();
  HANDLE raw = INVALID_HANDLE_VALUE;
  while ((raw = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr)) == INVALID_HANDLE_VALUE) {
    // Busy with another run: wait for it; gone: nothing to hand over to.
    if (GetLastError() != ERROR_PIPE_BUSY || GetTickCount64() - start > kMostMilliseconds) return false;
    WaitNamedPipeW(name.c_str(), kQuietMilliseconds);
  }
  Handle pipe(raw);
  ULONG serverProcess = 0;
  if (!GetNamedPipeServerProcessId(raw, &serverProcess)) return false;
  Handle server(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverProcess));
  if (!server || UserOf(server.get()) != user || Session(serverProcess) != Session(GetCurrentProcessId()))
    return false;
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(raw, &mode, nullptr, nullptr);
  const std::string message = Message(files);
  if (message.size() > kMessageLimit) return false;
  DWORD transferred = 0;
  if (!WriteFile(raw, message.data(), static_cast<DWORD>(message.size()), &transferred, nullptr) ||
      transferred != message.size())
    return false;
  char answer = 0;
  return ReadFile(raw, &answer, 1, &transferred, nullptr) && transferred == 1 && answer == kTaken;
}

}  // namespace

bool GatherSelection(const std::string& road, std::vector<std::string>& files) {
  const std::wstring user = UserOf(GetCurrentProcess());
  if (user.empty()) return true;
  const std::wstring name = L"\\\\.\\pipe\\TarvessinViewer." + Wide(road) + L"." + user + L"." +
                            std::to_wstring(Session(GetCurrentProcessId()));
  // Only this user may connect.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW((L"D:P(A;;GA;;;" + user + L")").c_str(),
                                                            SDDL_REVISION_1, &descriptor, nullptr))
    return true;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  // A gatherer that stops between a run's two tries leaves the name free: the run then
  // gathers itself.
  for (int attempt = 0; attempt < 3; ++attempt) {
    Handle pipe(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                 kMessageLimit, kMessageLimit, 0, &attributes));
    if (pipe.get() != INVALID_HANDLE_VALUE) {
      LocalFree(descriptor);
      Gather(pipe.get(), files);
      return true;
    }
    if (HandOver(name, user, files)) {
      LocalFree(descriptor);
      return false;
    }
  }
  LocalFree(descriptor);
  return true;
}
