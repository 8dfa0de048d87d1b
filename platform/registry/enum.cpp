// Enumeration of subkeys and values by index, in the order they were created.
#include "platform/registry/registry_db.h"

#include <cstring>

using namespace registry;

namespace {

// Copies a name with its terminator when it fits in *nameLen units; sets
// *nameLen to its length (fits) or to the room it needs (does not fit).
LONG CopyName(const std::u16string &text, LPWSTR name, DWORD *nameLen) {
  if (text.size() + 1 > *nameLen) {
    *nameLen = static_cast<DWORD>(text.size() + 1);
    return ERROR_MORE_DATA;
  }
  memcpy(name, text.data(), text.size() * sizeof(WCHAR));
  name[text.size()] = 0;
  *nameLen = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}

// The answer when the index is past the end: no more items, unless the key
// itself has gone.
LONG PastTheEnd(sqlite3_int64 id) {
  LONG check = CheckKeyExists(id);
  return check == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : check;
}

} // namespace

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD *nameLen, DWORD *, LPWSTR cls,
                   DWORD *clsLen, FILETIME *lastWrite) {
  if (!name || !nameLen)
    return ERROR_INVALID_PARAMETER;
  auto lock = RegistryLock();
  KeyRecord rec;
  if (!ResolveKey(key, &rec))
    return ERROR_INVALID_HANDLE;
  sqlite3_stmt *stmt = Statement(kEnumKey);
  sqlite3_bind_int64(stmt, 1, rec.id);
  sqlite3_bind_int64(stmt, 2, index);
  int rc = Step(stmt);
  if (rc != SQLITE_ROW) {
    sqlite3_reset(stmt);
    return rc == SQLITE_DONE ? PastTheEnd(rec.id) : ErrorFromSqlite(rc);
  }
  std::u16string text = DecodeName(sqlite3_column_text(stmt, 0),
                                   static_cast<size_t>(sqlite3_column_bytes(stmt, 0)));
  sqlite3_reset(stmt);
  // Keys have no class and no recorded write time here.
  if (cls && clsLen && *clsLen)
    cls[0] = 0;
  if (clsLen)
    *clsLen = 0;
  if (lastWrite)
    *lastWrite = FILETIME{0, 0};
  return CopyName(text, name, nameLen);
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD *nameLen, DWORD *, DWORD *type,
                   BYTE *data, DWORD *dataLen) {
  if (!name || !nameLen || (data && !dataLen))
    return ERROR_INVALID_PARAMETER;
  auto lock = RegistryLock();
  KeyRecord rec;
  if (!ResolveKey(key, &rec))
    return ERROR_INVALID_HANDLE;
  sqlite3_stmt *stmt = Statement(kEnumValue);
  sqlite3_bind_int64(stmt, 1, rec.id);
  sqlite3_bind_int64(stmt, 2, index);
  int rc = Step(stmt);
  if (rc != SQLITE_ROW) {
    sqlite3_reset(stmt);
    return rc == SQLITE_DONE ? PastTheEnd(rec.id) : ErrorFromSqlite(rc);
  }
  std::u16string text = DecodeName(sqlite3_column_text(stmt, 0),
                                   static_cast<size_t>(sqlite3_column_bytes(stmt, 0)));
  DWORD storedType = static_cast<DWORD>(sqlite3_column_int64(stmt, 1));
  const void *bytes = sqlite3_column_blob(stmt, 2);
  DWORD length = static_cast<DWORD>(sqlite3_column_bytes(stmt, 2));
  LONG result = CopyName(text, name, nameLen);
  if (type)
    *type = storedType;
  if (data) {
    if (*dataLen < length)
      result = ERROR_MORE_DATA;
    else if (length && result == ERROR_SUCCESS)
      memcpy(data, bytes, length);
  }
  if (dataLen)
    *dataLen = length;
  sqlite3_reset(stmt);
  return result;
}
