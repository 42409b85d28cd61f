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
#include "platform/console.h"
#include "platform/system_error.h"

namespace {

const char kHelp[] =
    "usage: qv3 inspect [--json] CONTAINER...\n"
    "\n"
    "Shows each container's format version, its extensions (the CREATED_BY text when\n"
    "present), the ciphertext length and the plaintext length. No password is needed and\n"
    "nothing is decrypted. A container that cannot be read is reported with the reason.\n"
    "\n"
    "  --json   one JSON object per container, one per line\n"
    "\n"
    "Exit status: 0 when every container was read, 1 otherwise, 2 for a usage error.\n";

struct Inspection {
  ContainerLayout layout;
  uint64_t plaintextLength = 0;
};

// Length of the valid UTF-8 sequence at s[at] (1 to 4), or 0 when none starts there.
size_t Utf8Length(const std::string& s, size_t at) {
  const unsigned char c = static_cast<unsigned char>(s[at]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || at + n > s.size()) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[at + i]) & 0xC0) != 0x80) return 0;
  if (n == 2 && c < 0xC2) return 0;  // an overlong form
  return n;
}

// The text of a container, and a file's name, are their sender's: a control character
// (C0, DEL, or C1 such as the one-character CSI: an escape sequence, for one) and a byte
// that is not UTF-8 are shown as \xNN, byte by byte, rather than handed to the terminal.
std::string Printable(const std::string& s) {
  std::string out;
  for (size_t at = 0; at < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[at]);
    size_t n = Utf8Length(s, at);
    const bool control = c < 0x20 || c == 0x7F || c == '\\' ||
                         (n == 2 && c == 0xC2 && static_cast<unsigned char>(s[at + 1]) < 0xA0);
    if (n == 0 || control) {
      if (n == 0) n = 1;
      for (size_t i = 0; i < n; ++i) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(s[at + i]));
        out += buf;
      }
    } else {
      out.append(s, at, n);
    }
    at += n;
  }
  return out;
}

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
  std::string text = Printable(path) + "\n";
  text += "  version     " + std::to_string(r.layout.version) + "\n";
  for (const auto& e : r.layout.extensions) text += "  extension   " + Printable(DescribeExtension(e)) + "\n";
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
      WriteStandard(StandardStream::Output, kHelp);
      return 0;
    } else if (a == "--json" && !reader.HasJoinedValue()) {
      json = true;
    } else {
      PrintError("inspect: unknown option '" + a + "' (see qv3 inspect --help)");
      return 2;
    }
  }
  if (files.empty()) {
    PrintError("inspect: no container given (see qv3 inspect --help)");
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
