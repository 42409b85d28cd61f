#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/folder_walk.h"
#include "platform/wide_win32.h"

namespace {

struct Listed {
  std::string name;
  WalkEntryType type = WalkEntryType::File;
  bool folder = false;
  uint64_t size = 0;
  uint64_t id = 0;  // the file ID the listing gave
};

// Whether a reparse point leads elsewhere: a symbolic link, a junction or a mounted
// volume (the name surrogates), or one whose tag the system does not say. Others (cloud
// placeholders, deduplicated or compressed files) are files and folders of their own.
bool LeadsElsewhere(DWORD tag) { return tag == 0 || IsReparseTagNameSurrogate(tag); }

struct Level {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::string path;
  FileIdentity identity;
  std::vector<Listed> entries;  // sorted by name
  size_t next = 0;
};

// A folder opened for listing, as itself: a reparse point at that name is opened, not
// followed, so the handle tells what it is. The root alone may be reached through one.
HANDLE OpenFolder(const std::string& path, bool itself) {
  return CreateFileW(Wide(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | (itself ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
                     nullptr);
}

}  // namespace

struct FolderWalk::Impl {
  std::vector<Level> levels;  // the folders on the way down, the root first
  DWORD volume = 0;           // the root's volume serial number

  ~Impl() {
    for (Level& level : levels) CloseHandle(level.handle);
  }

  // Reads the folder open at level.handle whole, through the handle, and sorts it; 0 or
  // the system's code.
  uint32_t Read(Level& level) {
    std::vector<unsigned char> buffer(64 * 1024);
    FILE_INFO_BY_HANDLE_CLASS which = FileIdBothDirectoryRestartInfo;
    for (;;) {
      if (!GetFileInformationByHandleEx(level.handle, which, buffer.data(),
                                        static_cast<DWORD>(buffer.size()))) {
        const DWORD error = GetLastError();
        if (error == ERROR_NO_MORE_FILES) break;
        level.entries.clear();
        return error;
      }
      which = FileIdBothDirectoryInfo;
      for (size_t offset = 0;;) {
        const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
        const std::wstring wide(info->FileName, info->FileNameLength / sizeof(wchar_t));
        if (wide != L"." && wide != L"..") {
          Listed listed;
          listed.name = Utf8(wide);
          listed.id = static_cast<uint64_t>(info->FileId.QuadPart);
          const DWORD attributes = info->FileAttributes;
          // The listing gives a reparse point's tag in place of the extended attributes' size.
          if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && LeadsElsewhere(info->EaSize))
            listed.type = WalkEntryType::Link;  // symbolic links, junctions, mounted volumes
          else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            listed.folder = true;
          else if (attributes & FILE_ATTRIBUTE_DEVICE)
            listed.type = WalkEntryType::Device;
          else
            listed.size = static_cast<uint64_t>(info->EndOfFile.QuadPart);
          level.entries.push_back(std::move(listed));
        }
        if (info->NextEntryOffset == 0) break;
        offset += info->NextEntryOffset;
      }
    }
    std::sort(level.entries.begin(), level.entries.end(),
              [](const Listed& a, const Listed& b) { return a.name < b.name; });
    return 0;
  }

  // Opens, checks (by its handle: no reparse point, the root's volume, the ID listed) and
  // reads the folder listed as name; on a problem, entry says it and false is returned.
  bool Enter(const Level& parent, const Listed& listed, std::string path, WalkEntry* entry) {
    entry->path = path;
    entry->folder = parent.identity;
    entry->type = WalkEntryType::Unreadable;
    Level level;
    level.handle = OpenFolder(path, true);
    if (level.handle == INVALID_HANDLE_VALUE) {
      entry->code = GetLastError();
      return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(level.handle, &info)) {
      entry->code = GetLastError();
      CloseHandle(level.handle);
      return false;
    }
    const uint64_t id = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    const bool elsewhere =
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        (!GetFileInformationByHandleEx(level.handle, FileAttributeTagInfo, &tag, sizeof tag) ||
         LeadsElsewhere(tag.ReparseTag));
    if (info.dwVolumeSerialNumber != volume) {
      entry->type = WalkEntryType::OtherFileSystem;
    } else if (elsewhere || id != listed.id) {
      entry->type =
          WalkEntryType::Link;  // what is there now leads elsewhere than the folder listed
    } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      entry->code = ERROR_DIRECTORY;
    } else {
      level.path = std::move(path);
      level.identity.volume = info.dwVolumeSerialNumber;
      level.identity.file = id;
      const uint32_t status = Read(level);
      if (status == 0) {
        levels.push_back(std::move(level));
        return true;
      }
      entry->code = status;
    }
    CloseHandle(level.handle);
    return false;
  }
};

FolderWalk::FolderWalk() = default;
FolderWalk::~FolderWalk() = default;

uint32_t FolderWalk::Open(const std::string& root) {
  m_impl = std::make_unique<Impl>();
  Level level;
  level.path = root;
  // "C:\" keeps its separator; "C:\a\" and "a/" lose theirs.
  while (level.path.size() > 1 && (level.path.back() == '\\' || level.path.back() == '/') &&
         !(level.path.size() == 3 && level.path[1] == ':'))
    level.path.pop_back();
  level.handle = OpenFolder(root, false);
  if (level.handle == INVALID_HANDLE_VALUE) return GetLastError();
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(level.handle, &info)) {
    const DWORD error = GetLastError();
    CloseHandle(level.handle);
    return error;
  }
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(level.handle);
    return ERROR_DIRECTORY;
  }
  m_impl->volume = info.dwVolumeSerialNumber;
  level.identity.volume = info.dwVolumeSerialNumber;
  level.identity.file = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  if (const uint32_t status = m_impl->Read(level)) {
    CloseHandle(level.handle);
    return status;
  }
  m_impl->levels.push_back(std::move(level));
  return 0;
}

bool FolderWalk::Next(WalkEntry* entry) {
  if (!m_impl) return false;
  *entry = WalkEntry();
  std::vector<Level>& levels = m_impl->levels;
  while (!levels.empty()) {
    Level& top = levels.back();
    if (top.next == top.entries.size()) {
      CloseHandle(top.handle);
      levels.pop_back();
      continue;
    }
    const Listed& listed = top.entries[top.next++];
    const bool separated = !top.path.empty() && (top.path.back() == '\\' || top.path.back() == '/');
    std::string path = top.path + (separated ? "" : "\\") + listed.name;
    if (listed.folder) {
      if (m_impl->Enter(top, listed, std::move(path), entry)) continue;
      return true;
    }
    entry->path = std::move(path);
    entry->type = listed.type;
    entry->size = listed.size;
    entry->identity.volume = top.identity.volume;
    entry->identity.file = listed.id;
    entry->folder = top.identity;
    return true;
  }
  return false;
}
