// qv3 inspect: what a container holds, read without the password.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/container_file.h"
#include "container/format.h"
#include "container/io.h"
#include "container/system_error_exception.h"
#include "platform/file_handle.h"
#include "platform/catalog.h"
#include "platform/console.h"
#include "platform/text.h"
#include "platform/system_error.h"

namespace {

// The help, in Korean; its English is in po/en.po.
const char kHelp[] = N_(
    "사용법: qv3 inspect [--json] 암호파일...\n"
    "\n"
    "암호 파일마다 형식 버전, 확장(있으면 CREATED_BY 글), 암호문 길이와 평문 길이를\n"
    "보입니다. 암호가 필요 없고 아무것도 풀지 않습니다. 읽을 수 없는 암호 파일은 그\n"
    "까닭과 함께 알립니다.\n"
    "\n"
    "  --json   암호 파일마다 한 줄에 JSON 객체 하나\n"
    "\n"
    "종료 상태: 모든 암호 파일을 읽었으면 0, 아니면 1, 사용법 오류는 2.\n");

struct Inspection {
  ContainerLayout layout;
  uint64_t plaintextLength = 0;
};

// Length of the valid UTF-8 sequence at s[at] (1 to 4), or 0 when none starts there.
std::string DescribeExtension(const std::vector<uint8_t>& e) {
  static const char kTag[] = "CREATED_BY";
  if (e.size() >= sizeof kTag && std::memcmp(e.data(), kTag, sizeof kTag) == 0) {
    std::string text(e.begin() + sizeof kTag, e.end());
    return std::string(kTag) + " " + text;
  }
  return std::to_string(e.size()) + " bytes";
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Throws SystemErrorException with the reader's message, or one for a file that cannot
// be opened.
Inspection Inspect(const std::string& path) {
  FileHandle file;
  OpenContainer(path, &file);
  FileSource source(file);
  ContainerReader reader(source, path);
  Inspection result;
  result.layout = reader.ReadLayout(/*keepExtensions=*/true);
  uint8_t lengthByte = result.layout.lengthByte;
  if (result.layout.version != 0 && result.layout.cipherLength > 0) {
    // The length byte sits between the ciphertext and the bulk MAC.
    uint32_t got = 0;
    uint32_t s = file.Seek(result.layout.size - 33);
    if (s == 0) s = file.Read(&lengthByte, 1, &got);
    if (s == 0 && got != 1) s = EndOfFileError();
    if (s != 0) throw SystemErrorException(FailureKind::Unreadable, s, path);
  }
  result.plaintextLength = PlaintextLength(result.layout.cipherLength, lengthByte);
  return result;
}

void PrintText(const std::string& path, const Inspection& r) {
  std::string text = EscapeControls(path) + "\n";
  text += "  version     " + std::to_string(r.layout.version) + "\n";
  for (const auto& e : r.layout.extensions) text += "  extension   " + EscapeControls(DescribeExtension(e), false, true) + "\n";
  text += "  ciphertext  " + std::to_string(r.layout.cipherLength) + " bytes\n";
  text += "  plaintext   " + std::to_string(r.plaintextLength) + " bytes\n";
  WriteStandard(StandardStream::Output, text);
}

void PrintJson(const std::string& path, const Inspection& r) {
  std::string extensions;
  for (const auto& e : r.layout.extensions) {
    if (!extensions.empty()) extensions += ",";
    extensions += JsonString(DescribeExtension(e));
  }
  WriteStandard(StandardStream::Output,
                "{\"path\":" + JsonString(path) +
                    ",\"version\":" + std::to_string(r.layout.version) + ",\"extensions\":[" +
                    extensions + "],\"ciphertext\":" + std::to_string(r.layout.cipherLength) +
                    ",\"plaintext\":" + std::to_string(r.plaintextLength) + "}\n");
}

}  // namespace

int RunInspect(const std::vector<std::string>& args) {
  bool json = false;
  std::vector<std::string> files;
  ArgReader reader(args);
  while (reader.Next()) {
    const std::string& a = reader.Current();
    if (!reader.IsOption()) {
      files.push_back(a);
    } else if ((a == "--help" || a == "-h") && !reader.HasJoinedValue()) {
      WriteStandard(StandardStream::Output, Tr(kHelp));
      return 0;
    } else if (a == "--json" && !reader.HasJoinedValue()) {
      json = true;
    } else {
      PrintError(UsageText("inspect", Format(Tr("알 수 없는 옵션 '%s'"), a.c_str())));
      return 2;
    }
  }
  if (files.empty()) {
    PrintError(UsageText("inspect", Tr("암호 파일을 주지 않았습니다")));
    return 2;
  }
  int exitStatus = 0;
  for (const std::string& path : files) {
    try {
      const Inspection r = Inspect(path);
      if (json)
        PrintJson(path, r);
      else
        PrintText(path, r);
    } catch (const SystemErrorException& e) {
      PrintError(AppendSystemErrorText(FailureText(e.m_failure), e.m_failure.code));
      exitStatus = 1;
    }
  }
  return exitStatus;
}
