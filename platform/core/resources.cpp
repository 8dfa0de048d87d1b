// The program's resources, registered at start-up. Entries are never
// removed, so the handles given out stay valid for the whole process. The
// same code on every platform (on Windows the lookups are the program's own,
// beside Win32's).
#include "platform/resource_formats.h"
#include "platform/text.h"
#include "platform/window.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace {

struct Resource {
  const void *data;
  DWORD size;
};

std::atomic<ResourceTextLookup> gTextLookup{nullptr};

std::mutex gResourceMutex;
std::map<std::u16string, Resource> gResources; // std::map: nodes never move

// A type or name is an integer identifier or a text; both become one key.
std::u16string KeyPart(LPCWSTR value) {
  if (IS_INTRESOURCE(value))
    return u"#" + Utf8ToUtf16(std::to_string(reinterpret_cast<uintptr_t>(value)));
  std::u16string text(value);
  if (text.size() > 1 && text[0] == u'#') // "#123" names resource 123
    return u"#" + Utf8ToUtf16(std::to_string(_wtoi(text.c_str() + 1) & 0xFFFF));
  for (char16_t &c : text)
    if (c >= u'a' && c <= u'z')
      c = static_cast<char16_t>(c - 32);
  return text;
}

std::u16string Key(LPCWSTR type, LPCWSTR name) { return KeyPart(type) + u"/" + KeyPart(name); }

} // namespace

void RegisterResource(LPCWSTR type, WORD id, const void *data, DWORD size) {
  if (!type)
    return;
  std::lock_guard<std::mutex> lock(gResourceMutex);
  gResources[Key(type, MAKEINTRESOURCEW(id))] = Resource{data, size};
}

HRSRC FindResourceW(HINSTANCE, LPCWSTR name, LPCWSTR type) {
  if (!name || !type)
    return nullptr;
  std::lock_guard<std::mutex> lock(gResourceMutex);
  auto it = gResources.find(Key(type, name));
  return it == gResources.end() ? nullptr : reinterpret_cast<HRSRC>(&it->second);
}

HGLOBAL LoadResource(HINSTANCE, HRSRC res) { return reinterpret_cast<HGLOBAL>(res); }

DWORD SizeofResource(HINSTANCE, HRSRC res) {
  if (!res)
    return 0;
  std::lock_guard<std::mutex> lock(gResourceMutex);
  return reinterpret_cast<const Resource *>(res)->size;
}

const void *LockResource(HGLOBAL res) {
  if (!res)
    return nullptr;
  std::lock_guard<std::mutex> lock(gResourceMutex);
  return reinterpret_cast<const Resource *>(res)->data;
}

void SetResourceTextLookup(ResourceTextLookup lookup) { gTextLookup.store(lookup); }

LPCWSTR ResourceText(LPCWSTR text) {
  ResourceTextLookup lookup = gTextLookup.load();
  if (!text || !lookup)
    return text;
  const WCHAR *shown = lookup(text);
  return shown ? shown : text;
}
