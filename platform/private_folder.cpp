#include "platform/private_folder.h"

#include <cinttypes>
#include <cstdio>

std::string FileStamp::ToText() const {
  char text[96];
  std::snprintf(text, sizeof text, "%" PRIu64 " %" PRIu64 " %" PRId64 " %" PRId64, id.volume, id.file, size, modified);
  return text;
}

bool FileStamp::Parse(const std::string& text) {
  FileStamp read;
  int used = 0;
  if (std::sscanf(text.c_str(), "%" SCNu64 " %" SCNu64 " %" SCNd64 " %" SCNd64 "%n", &read.id.volume, &read.id.file,
                  &read.size, &read.modified, &used) != 4 ||
      static_cast<size_t>(used) != text.size())
    return false;
  *this = read;
  return true;
}
