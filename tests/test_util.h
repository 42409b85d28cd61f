#pragma once
// Shared test helpers: test data files, hex, known-answer vector files, and the crypto
// implementations this CPU can run.
//
// Vector files (tests/data/*.vec) hold records separated by blank lines; each line is
// "Name = value". Lines starting with '#' are comments (each file names its source
// there). A line "[Group]" sets the field "Group" for the records after it.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "crypto/dispatch.h"

namespace testutil {

// Absolute path of a file in tests/data.
std::string DataPath(const std::string& name);

// Whole file as bytes; fails the current test when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

std::vector<uint8_t> FromHex(const std::string& hex);
std::string ToHex(const uint8_t* data, size_t n);
inline std::string ToHex(const std::vector<uint8_t>& v) { return ToHex(v.data(), v.size()); }

using VectorRecord = std::map<std::string, std::string>;
// Records of a vector file in tests/data; fails the test when the file is missing or empty.
std::vector<VectorRecord> LoadVectors(const std::string& name);

// A fresh, empty folder for one test, removed with everything in it afterwards (files a
// test made read-only included).
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return m_path; }
  // Path of name inside the folder, with the system's separator.
  std::string operator/(const std::string& name) const;
  // Creates name with the given bytes and returns its path.
  std::string Write(const std::string& name, const std::string& content) const;

 private:
  std::string m_path;
};

// A whole file as text ("" when it cannot be read).
std::string ReadText(const std::string& path);

// Every implementation this CPU can run, best first, portable last: each test runs on
// all of them.
std::vector<const AesImplementation*> AesImplementations();
std::vector<const Sha256Implementation*> Sha256Implementations();

}  // namespace testutil
