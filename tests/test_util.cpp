#include "tests/test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/file_ops.h"

namespace testutil {

std::string DataPath(const std::string& name) { return std::string(QV3_TEST_DATA_DIR) + "/" + name; }

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  int hi = -1;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else continue;  // spaces and separators are allowed for readability
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi << 4 | v));
      hi = -1;
    }
  }
  EXPECT_EQ(hi, -1) << "odd number of hex digits in " << hex;
  return out;
}

std::string ToHex(const uint8_t* data, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[data[i] >> 4];
    s += digits[data[i] & 15];
  }
  return s;
}

static std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::vector<VectorRecord> LoadVectors(const std::string& name) {
  std::ifstream in(DataPath(name));
  EXPECT_TRUE(in.good()) << "cannot read vector file " << name;
  std::vector<VectorRecord> records;
  VectorRecord current;
  std::string group;
  std::string line;
  auto flush = [&] {
    if (!current.empty()) {
      if (!group.empty()) current["Group"] = group;
      records.push_back(current);
      current.clear();
    }
  };
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty()) {
      flush();
      continue;
    }
    if (line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      flush();
      group = line.substr(1, line.size() - 2);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    current[Trim(line.substr(0, eq))] = Trim(line.substr(eq + 1));
  }
  flush();
  EXPECT_FALSE(records.empty()) << "no records in " << name;
  return records;
}

std::vector<const AesImplementation*> AesImplementations() {
  const AesImplementation* list[8];
  const size_t n = AvailableAesImplementations(list, 8);
  return std::vector<const AesImplementation*>(list, list + n);
}

std::vector<const Sha256Implementation*> Sha256Implementations() {
  const Sha256Implementation* list[8];
  const size_t n = AvailableSha256Implementations(list, 8);
  return std::vector<const Sha256Implementation*>(list, list + n);
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto base = std::filesystem::temp_directory_path();
  const std::string name = "qv3-test-" + std::to_string(std::random_device{}()) + "-" + std::to_string(counter++);
  m_path = (base / name).string();
  std::filesystem::create_directories(m_path);
}

TempDir::~TempDir() {
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(m_path, ec);
}

// Plain bytes: a path object would convert a double-byte name through another code page.
std::string TempDir::operator/(const std::string& name) const { return m_path + kPathSeparator + name; }

std::string TempDir::Write(const std::string& name, const std::string& content) const {
  const std::string path = *this / name;
  std::ofstream out(path, std::ios::binary);
  out << content;
  EXPECT_TRUE(out.good()) << "cannot write " << path;
  return path;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace testutil
