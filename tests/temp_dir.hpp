#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

namespace tavrin {

// Names in the program's own form, UTF-8, whatever the system's code page.
inline std::filesystem::path pathOf(std::string_view utf8) {
  return std::u8string(utf8.begin(), utf8.end());
}
inline std::string utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

// A folder of its own for each test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::random_device random;
    do {
      m_path = std::filesystem::temp_directory_path() / ("tavrin-test-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(m_path));
  }
  ~TempDir() { std::filesystem::remove_all(m_path); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string file(std::string_view name) const { return utf8Of(m_path / pathOf(name)); }

  std::string write(std::string_view name, std::string_view content) const {
    std::ofstream(pathOf(file(name)), std::ios::binary) << content;
    return file(name);
  }

 private:
  std::filesystem::path m_path;
};

inline std::string readFile(const std::string& path) {
  std::ifstream file(pathOf(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace tavrin
