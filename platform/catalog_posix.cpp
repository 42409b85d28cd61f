#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/catalog.h"
#include "platform/language.h"

namespace {

const char kCatalog[] = "/en/LC_MESSAGES/tarvessin.mo";

bool LoadFrom(const std::string& path, MessageCatalog* catalog) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return catalog->Parse(bytes);
}

// The program's folder's share/locale first (or, in libqv3, the library's folder's), then
// the installation's.
const MessageCatalog& English() {
  static const MessageCatalog catalog = [] {
    MessageCatalog loaded;
    Dl_info module{};
    if (dladdr(reinterpret_cast<void*>(&LoadFrom), &module) && module.dli_fname && std::strchr(module.dli_fname, '/')) {
      std::string folder(module.dli_fname);
      folder.erase(folder.find_last_of('/'));
      if (LoadFrom(folder + "/../share/locale" + kCatalog, &loaded)) return loaded;
    }
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
      std::string folder(self, static_cast<size_t>(n));
      folder.erase(folder.find_last_of('/'));
      if (LoadFrom(folder + "/../share/locale" + kCatalog, &loaded)) return loaded;
    }
#ifdef QV3_LOCALE_DIR
    LoadFrom(std::string(QV3_LOCALE_DIR) + kCatalog, &loaded);
#endif
    return loaded;
  }();
  return catalog;
}

}  // namespace

const char* Tr(const char* korean) {
  if (UserLanguage() == Language::Korean) return korean;
  const char* english = English().Find(korean);
  return english ? english : korean;
}
