// Directory listing: FindFirstFileW / FindNextFileW / FindClose. The folder
// is read whole when the search starts, names sorted, so a listing is stable
// and does not change under a caller that creates files while walking it.
#include "platform/core/host_path.h"
#include "platform/core/kernel_object.h"
#include "platform/files.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

class SearchObject : public KernelObject {
public:
  std::vector<WIN32_FIND_DATAW> entries;
  size_t next = 0;
};

WCHAR FoldAscii(WCHAR c) { return (c >= u'A' && c <= u'Z') ? static_cast<WCHAR>(c + 32) : c; }

// '*' matches any run, '?' one character; letters compare without case, as
// file names do on the handheld.
bool Matches(const WCHAR *pattern, const WCHAR *name) {
  const WCHAR *starP = nullptr, *starN = nullptr;
  while (*name) {
    if (*pattern == u'*') {
      starP = ++pattern;
      starN = name;
    } else if (*pattern == u'?' || (*pattern && FoldAscii(*pattern) == FoldAscii(*name))) {
      ++pattern;
      ++name;
    } else if (starP) {
      pattern = starP;
      name = ++starN;
    } else {
      return false;
    }
  }
  while (*pattern == u'*')
    ++pattern;
  return *pattern == 0;
}

} // namespace

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW *data) {
  if (!pattern || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string text(pattern);
  size_t cut = text.find_last_of(u"\\/");
  std::u16string folder = cut == std::u16string::npos ? std::u16string() : text.substr(0, cut);
  std::u16string namePattern = cut == std::u16string::npos ? text : text.substr(cut + 1);
  if (namePattern.empty() || namePattern == u"*.*")
    namePattern = u"*"; // "*.*" means every name, with or without a dot
  std::string host = HostPathFor(folder.c_str());
  if (host.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  DIR *dir = opendir(host.c_str());
  if (!dir) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                     : ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  auto search = std::make_shared<SearchObject>();
  std::vector<std::string> names;
  while (dirent *entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..")
      names.push_back(std::move(name));
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) {
    std::u16string wide = Utf8ToUtf16(name);
    // A name that does not fit cFileName cannot be opened again by the
    // caller; it is left out rather than cut into a wrong name.
    if (wide.size() >= MAX_PATH || !Matches(namePattern.c_str(), wide.c_str()))
      continue;
    WIN32_FIND_DATAW found{};
    struct stat st;
    std::string full = host == "/" ? "/" + name : host + "/" + name;
    if (stat(full.c_str(), &st) == 0) {
      found.dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY
                               : (st.st_mode & 0222) ? FILE_ATTRIBUTE_NORMAL
                                                     : FILE_ATTRIBUTE_READONLY;
      uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
      found.nFileSizeHigh = static_cast<DWORD>(size >> 32);
      found.nFileSizeLow = static_cast<DWORD>(size);
      found.ftLastWriteTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
      found.ftLastAccessTime = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
      found.ftCreationTime = FileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
    } else {
      found.dwFileAttributes = FILE_ATTRIBUTE_NORMAL; // e.g. a dangling link
    }
    std::copy(wide.begin(), wide.end(), found.cFileName);
    found.cFileName[wide.size()] = 0;
    search->entries.push_back(found);
  }
  if (search->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *data = search->entries[0];
  search->next = 1;
  HANDLE h = RegisterHandle(search);
  SetLastError(ERROR_SUCCESS);
  return h;
}

BOOL FindNextFileW(HANDLE h, WIN32_FIND_DATAW *data) {
  auto search = LookupHandleAs<SearchObject>(h);
  if (!search || !data)
    return FALSE;
  // One search handle is walked by one thread at a time, as on the handheld.
  if (search->next >= search->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *data = search->entries[search->next++];
  return TRUE;
}

BOOL FindClose(HANDLE h) {
  if (!LookupHandleAs<SearchObject>(h))
    return FALSE;
  return ReleaseHandle(h) != nullptr;
}
