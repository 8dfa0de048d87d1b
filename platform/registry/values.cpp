// Values: reading, writing and deleting one named value of an open key.
// A value keeps its type and its bytes exactly as they were written.
#include "platform/registry/registry_db.h"

#include "platform/registry/bluetooth_keys.h"

#include "platform/text.h"

#include <cstring>

using namespace registry;

namespace {

// The folded name of a value; a null name is the key's unnamed value.
bool FoldValueName(LPCWSTR name, std::string *fold, std::string *asWritten) {
  size_t units = name ? wcslen(name) : 0;
  if (units > kMaxValueNameUnits)
    return false;
  *fold = EncodeName(name, units, true);
  if (asWritten)
    *asWritten = EncodeName(name, units, false);
  return true;
}

} // namespace

namespace registry {

LONG CopyValue(sqlite3_stmt *stmt, int typeColumn, LONG result, DWORD *type, BYTE *data,
               DWORD *size) {
  DWORD storedType = static_cast<DWORD>(sqlite3_column_int64(stmt, typeColumn));
  const void *bytes = sqlite3_column_blob(stmt, typeColumn + 1);
  DWORD length = static_cast<DWORD>(sqlite3_column_bytes(stmt, typeColumn + 1));
  if (type)
    *type = storedType;
  if (data) {
    if (*size < length)
      result = ERROR_MORE_DATA; // nothing copied; *size tells what is needed
    else if (length && result == ERROR_SUCCESS)
      memcpy(data, bytes, length);
  }
  if (size)
    *size = length;
  return result;
}

} // namespace registry

LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD *, DWORD *type, BYTE *data, DWORD *size) {
  if (data && !size)
    return ERROR_INVALID_PARAMETER;
  std::string fold;
  if (!FoldValueName(name, &fold, nullptr))
    return ERROR_FILE_NOT_FOUND; // no stored name is that long
  auto lock = RegistryLock();
  KeyRecord rec;
  if (!ResolveKey(key, &rec))
    return ERROR_INVALID_HANDLE;
  if (rec.bt)
    return BluetoothQueryValue(*rec.bt, fold, type, data, size);
  sqlite3_stmt *stmt = Statement(kGetValue);
  if (!stmt)
    return ERROR_TIMEOUT;
  sqlite3_bind_int64(stmt, 1, rec.id);
  sqlite3_bind_text(stmt, 2, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
  int rc = Step(stmt);
  if (rc == SQLITE_DONE) {
    sqlite3_reset(stmt);
    return AnswerUnlessKeyGone(rec.id, ERROR_FILE_NOT_FOUND);
  }
  if (rc != SQLITE_ROW) {
    sqlite3_reset(stmt);
    return ErrorFromSqlite(rc);
  }
  LONG result = CopyValue(stmt, 0, ERROR_SUCCESS, type, data, size);
  sqlite3_reset(stmt);
  return result;
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE *data, DWORD size) {
  if ((!data && size) || size > kMaxValueBytes)
    return ERROR_INVALID_PARAMETER;
  std::string fold, asWritten;
  if (!FoldValueName(name, &fold, &asWritten))
    return ERROR_INVALID_PARAMETER;
  auto lock = RegistryLock();
  KeyRecord rec;
  if (!ResolveKey(key, &rec))
    return ERROR_INVALID_HANDLE;
  if (rec.bt)
    return ERROR_ACCESS_DENIED; // BlueZ's devices are changed through BlueZ
  WriteOp op{WriteOp::kSetValue};
  op.keyId = rec.id;
  op.keyPath = rec.path;
  op.name = asWritten;
  op.fold = fold;
  op.type = type;
  if (size)
    op.data.assign(data, data + size);
  return Write(op);
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
  std::string fold;
  if (!FoldValueName(name, &fold, nullptr))
    return ERROR_FILE_NOT_FOUND;
  auto lock = RegistryLock();
  KeyRecord rec;
  if (!ResolveKey(key, &rec))
    return ERROR_INVALID_HANDLE;
  if (rec.bt)
    return BluetoothQueryValue(*rec.bt, fold, nullptr, nullptr, nullptr) == ERROR_SUCCESS
               ? ERROR_ACCESS_DENIED
               : ERROR_FILE_NOT_FOUND;
  WriteOp op{WriteOp::kDeleteValue};
  op.keyId = rec.id;
  op.keyPath = rec.path;
  op.fold = fold;
  return Write(op);
}
