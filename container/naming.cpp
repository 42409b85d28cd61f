#include "container/naming.h"

#include <cstring>
#include <iterator>

#include "platform/file_ops.h"
#include "platform/text.h"

namespace {

const char* const kGenericExtension = "aqv3";

// Indexed by category number.
const char* const CategoryExtensions[13] = {
    "pqv3",  // 0 images
    "dqv3",  // 1 PostScript
    "bqv3",  // 2 everything else (the default)
    "mqv3",  // 3 video
    "sqv3",  // 4 sound
    "xqv3",  // 5 spreadsheets
    "wqv3",  // 6 word-processor documents
    "tqv3",  // 7 presentations
    "hqv3",  // 8 hwp documents
    "fqv3",  // 9 PDF documents
    "gqv3",  // 10 gul documents
    "cqv3",  // 11 drawings
    "zqv3",  // 12 archives
};
constexpr int kDefaultCategory = 2;

struct ExtensionCategory {
  const char* extension;
  int category;
};

const ExtensionCategory ExtensionCategoryTable[] = {
    {"gif", 0},  {"jpeg", 0}, {"jpg", 0},  {"png", 0},  {"bmp", 0},  {"doc", 6},  {"docx", 6},
    {"xls", 5},  {"xlsx", 5}, {"hwp", 8},  {"ppt", 7},  {"pptx", 7}, {"odtx", 6}, {"pdf", 9},
    {"ps", 1},   {"gul", 10}, {"avi", 3},  {"wmv", 3},  {"3gp", 3},  {"swf", 3},  {"asf", 3},
    {"rm", 3},   {"mov", 3},  {"flv", 3},  {"mpg", 3},  {"mp4", 3},  {"vob", 3},  {"mp3", 4},
    {"ogg", 4},  {"mid", 4},  {"wma", 4},  {"mpa", 4},  {"ra", 4},   {"wav", 4},  {"dwg", 11},
    {"dwf", 11}, {"dxf", 11}, {"zip", 12}, {"7z", 12},  {"rar", 12}, {"alz", 12}, {"lzh", 12},
    {"gz", 12},  {"arj", 12}, {"egg", 12},
};
static_assert(std::size(ExtensionCategoryTable) == 45, "45 rows");

}  // namespace

std::vector<std::string> ContainerExtensions() {
  std::vector<std::string> extensions{kGenericExtension};
  extensions.insert(extensions.end(), std::begin(CategoryExtensions), std::end(CategoryExtensions));
  return extensions;
}

bool HasCategoryExtension(const std::string& path) {
  if (path.size() < 5 || path[path.size() - 5] != '.') return false;
  const std::string extension = path.substr(path.size() - 4);
  for (const char* category : CategoryExtensions)
    if (CompareIgnoringAsciiCase(extension.c_str(), category) == 0) return true;
  return false;
}

bool HasContainerExtension(const std::string& path) {
  return HasCategoryExtension(path) ||
         (path.size() >= 5 && path[path.size() - 5] == '.' &&
          CompareIgnoringAsciiCase(path.c_str() + path.size() - 4, kGenericExtension) == 0);
}

const char* ChooseEncryptedExtension(const char* path, bool useGenericExtension) {
  const char* dot = std::strrchr(path, '.');
  if (useGenericExtension) return kGenericExtension;
  if (!dot) return CategoryExtensions[kDefaultCategory];
  for (const ExtensionCategory& row : ExtensionCategoryTable) {
    if (CompareIgnoringAsciiCase(dot + 1, row.extension) == 0) return CategoryExtensions[row.category];
  }
  return CategoryExtensions[kDefaultCategory];
}

std::string NumberedName(const std::string& path, unsigned n) {
  if (n <= 1) return path;
  const size_t name = path.rfind(kPathSeparator) + 1;  // npos + 1 is 0
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot <= name) dot = path.size();
  return path.substr(0, dot) + " (" + std::to_string(n) + ")" + path.substr(dot);
}

std::string PartialPath(const std::string& output, unsigned attempt) {
  std::string path = output + kPartialSuffix;
  if (attempt > 1) path += std::to_string(attempt);
  return path;
}

bool OutputOfPartial(const std::string& name, std::string* output) {
  size_t end = name.size();
  while (end > 0 && name[end - 1] >= '0' && name[end - 1] <= '9') --end;
  const std::string number = name.substr(end);
  // Only the numbers PartialPath writes: none, or 2 and more without a leading zero.
  if (!number.empty() && (number[0] == '0' || number == "1")) return false;
  const size_t suffix = sizeof kPartialSuffix - 1;
  if (end <= suffix || name.compare(end - suffix, suffix, kPartialSuffix) != 0) return false;
  *output = name.substr(0, end - suffix);
  return true;
}

PlaintextNameProblem PlaintextPath(const std::string& containerPath, bool toWorkingFolder,
                                   const std::string& workingFolder, std::string* output) {
  // The plaintext's longest temporary name must fit too.
  auto tooLong = [](const std::string& plaintext) {
    return !PathFits(PartialPath(plaintext, kPartialAttempts));
  };
  if (!PathFits(containerPath)) return PlaintextNameProblem::Invalid;
  std::string path = containerPath;
  if (toWorkingFolder) {
    const char* separator = std::strrchr(containerPath.c_str(), kPathSeparator);
    if (!separator) return PlaintextNameProblem::Invalid;
    const std::string name = separator + 1;
    // Cutting 5 bytes off a shorter name would reach into the working folder's own path.
    if (name.size() <= 5) return PlaintextNameProblem::Odd;
    path = workingFolder + kPathSeparator + name;
  }
  if (path.size() < 6) return PlaintextNameProblem::Odd;
  if (!HasContainerExtension(path)) return PlaintextNameProblem::NotContainer;
  path.resize(path.size() - 5);
  if (tooLong(path)) return PlaintextNameProblem::Invalid;
  *output = path;
  return PlaintextNameProblem::None;
}
