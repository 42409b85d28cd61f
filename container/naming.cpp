#include "container/naming.h"

#include <iterator>

#include "platform/file_ops.h"
#include "platform/mbstring.h"
#include "platform/working_folder.h"

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

const char* ChooseEncryptedExtension(const char* path, bool useGenericExtension) {
  const char* dot = MbsRChr(path, '.');
  if (useGenericExtension) return kGenericExtension;
  if (!dot) return CategoryExtensions[kDefaultCategory];
  for (const ExtensionCategory& row : ExtensionCategoryTable) {
    if (MbsICmp(dot + 1, row.extension) == 0) return CategoryExtensions[row.category];
  }
  return CategoryExtensions[kDefaultCategory];
}

PlaintextNameProblem PlaintextPath(const std::string& containerPath, bool toWorkingFolder,
                                   std::string* output) {
  if (containerPath.size() + 1 > kMaxPathBytes) return PlaintextNameProblem::Invalid;
  std::string path = containerPath;
  if (toWorkingFolder) {
    // Multibyte-aware: a double-byte character's trail byte is never the separator.
    const char* separator = MbsRChr(containerPath.c_str(), kPathSeparator);
    if (!separator) return PlaintextNameProblem::Invalid;
    const std::string name = separator + 1;
    char folder[520] = {};
    GetWorkingFolder(sizeof folder, folder);
    path = std::string(folder) + kPathSeparator + name;
    if (path.size() + sizeof kPartialSuffix > kMaxPathBytes) return PlaintextNameProblem::Invalid;
    // Cutting 5 bytes off a shorter name would reach into the working folder's own path.
    if (name.size() <= 5) return PlaintextNameProblem::Odd;
  }
  if (path.size() < 6) return PlaintextNameProblem::Odd;
  path.resize(path.size() - 5);
  *output = path;
  return PlaintextNameProblem::None;
}
