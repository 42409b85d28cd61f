#pragma once
// A fresh, empty folder for one test, removed with everything in it afterwards (files
// a test made read-only included).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    m_path = std::filesystem::temp_directory_path() /
             ("qv3-platform-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(m_path);
  }
  ~ScratchDir() {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(m_path, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The folder, or a name inside it, as the system's narrow path text.
  std::string Path() const { return m_path.string(); }
  std::string Path(const std::string& name) const { return (m_path / name).string(); }

  // Creates name with the given content and returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary);
    out << content;
    EXPECT_TRUE(out.good()) << "cannot write " << path;
    return path;
  }

 private:
  std::filesystem::path m_path;
};

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
