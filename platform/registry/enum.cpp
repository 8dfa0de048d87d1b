// Enumeration of subkeys and values by index, in the order they were created.
#include "platform/registry/registry_db.h"

#include "platform/registry/bluetooth_keys.h"

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

// Steps an enumeration statement to the item at `index` of a key and reads
// the item's name (column 0). ERROR_SUCCESS with the statement on the item's
// row, for the caller to reset; otherwise the statement is reset and the
// answer is no more items past the end (unless the key itself has gone), or
// an error.
LONG StepToItem(Stmt which, sqlite3_int64 id, DWORD index, sqlite3_stmt **stmt,
                std::u16string *text) {
  *stmt = Statement(which);
  if (!*stmt)
    return ERROR_TIMEOUT;
  sqlite3_bind_int64(*stmt, 1, id);
  sqlite3_bind_int64(*stmt, 2, index);
  int rc = Step(*stmt);
  if (rc != SQLITE_ROW) {
    sqlite3_reset(*stmt);
    return rc == SQLITE_DONE ? AnswerUnlessKeyGone(id, ERROR_NO_MORE_ITEMS) : ErrorFromSqlite(rc);
  }
  *text = DecodeName(sqlite3_column_text(*stmt, 0),
                     static_cast<size_t>(sqlite3_column_bytes(*stmt, 0)));
  return ERROR_SUCCESS;
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
  sqlite3_stmt *stmt = nullptr;
  std::u16string text;
  if (rec.bt) {
    if (LONG err = BluetoothEnumKey(*rec.bt, index, &text))
      return err;
  } else {
    if (LONG err = StepToItem(kEnumKey, rec.id, index, &stmt, &text))
      return err;
    sqlite3_reset(stmt);
  }
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
  if (rec.bt)
    return BluetoothEnumValue(*rec.bt, index, name, nameLen, type, data, dataLen);
  sqlite3_stmt *stmt = nullptr;
  std::u16string text;
  if (LONG err = StepToItem(kEnumValue, rec.id, index, &stmt, &text))
    return err;
  LONG result = CopyValue(stmt, 1, CopyName(text, name, nameLen), type, data, dataLen);
  sqlite3_reset(stmt);
  return result;
}
