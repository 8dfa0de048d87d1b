// Keys: handles, creating, opening, closing and deleting.
#include "platform/registry/registry_db.h"

#include "platform/registry/bluetooth_keys.h"

#include <unordered_set>

namespace registry {

namespace {

// The live handles. Guarded by the registry lock.
// A handle's key id belongs to the connection that was active when it was
// found; after the active connection changed it is looked up again by path.
struct Handle {
  sqlite3_int64 id;
  std::string path;
  uint64_t generation;
  std::shared_ptr<BluetoothKey> bt; // a key of the Bluetooth area (no row)
};
std::unordered_set<Handle *> &LiveHandles() {
  static auto *handles = new std::unordered_set<Handle *>;
  return *handles;
}

std::string FullPath(const KeyRecord &parent, const std::vector<PathPart> &parts) {
  std::string path = parent.path;
  for (const PathPart &part : parts)
    path = JoinPath(path, part.fold);
  return path;
}

} // namespace

LONG ResolveSubKey(HKEY parent, LPCWSTR subKey, KeyRecord *base, std::vector<PathPart> *parts,
                   std::string *path) {
  if (!ResolveKey(parent, base))
    return ERROR_INVALID_HANDLE;
  if (!SplitKeyPath(subKey, parts))
    return ERROR_INVALID_PARAMETER;
  *path = FullPath(*base, *parts);
  return ERROR_SUCCESS;
}

int FindKey(const std::string &path, sqlite3_int64 *id, std::string *name) {
  sqlite3_stmt *stmt = Statement(kFindKey);
  if (!stmt)
    return SQLITE_BUSY;
  sqlite3_bind_text(stmt, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
  int rc = Step(stmt);
  if (rc == SQLITE_ROW) {
    *id = sqlite3_column_int64(stmt, 0);
    if (name) {
      const unsigned char *t = sqlite3_column_text(stmt, 1);
      *name = std::string(t ? reinterpret_cast<const char *>(t) : "",
                          static_cast<size_t>(sqlite3_column_bytes(stmt, 1)));
    }
  }
  sqlite3_reset(stmt);
  return rc;
}

bool ResolveKey(HKEY key, KeyRecord *out) {
  if (key == HKEY_LOCAL_MACHINE) {
    out->id = kRootKeyId;
    out->path.clear();
    return true;
  }
  auto *handle = reinterpret_cast<Handle *>(key);
  if (!handle || !LiveHandles().count(handle))
    return false;
  if (handle->bt) {
    out->id = 0;
    out->path = handle->path;
    out->bt = handle->bt;
    return true;
  }
  if (handle->generation != Generation()) {
    sqlite3_int64 id = 0;
    int rc = FindKey(handle->path, &id);
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
      handle->id = rc == SQLITE_ROW ? id : 0; // 0: no such key any more
      handle->generation = Generation();
    }
  }
  out->id = handle->id;
  out->path = handle->path;
  out->bt = nullptr;
  return true;
}

HKEY NewKeyHandle(sqlite3_int64 id, const std::string &path, std::shared_ptr<BluetoothKey> bt) {
  auto *handle = new Handle{id, path, Generation(), std::move(bt)};
  LiveHandles().insert(handle);
  return reinterpret_cast<HKEY>(handle);
}

bool FreeKeyHandle(HKEY key) {
  auto *handle = reinterpret_cast<Handle *>(key);
  if (!LiveHandles().erase(handle))
    return false;
  delete handle;
  return true;
}

LONG CheckKeyExists(sqlite3_int64 id) {
  if (id == kRootKeyId)
    return ERROR_SUCCESS;
  sqlite3_stmt *stmt = Statement(kKeyExists);
  if (!stmt)
    return ERROR_TIMEOUT;
  sqlite3_bind_int64(stmt, 1, id);
  int rc = Step(stmt);
  sqlite3_reset(stmt);
  if (rc == SQLITE_ROW)
    return ERROR_SUCCESS;
  if (rc == SQLITE_DONE)
    return ERROR_KEY_DELETED;
  return ErrorFromSqlite(rc);
}

LONG AnswerUnlessKeyGone(sqlite3_int64 id, LONG answer) {
  LONG check = CheckKeyExists(id);
  return check == ERROR_SUCCESS ? answer : check;
}

} // namespace registry

using namespace registry;

LONG RegCreateKeyExW(HKEY parent, LPCWSTR subKey, DWORD, LPWSTR, DWORD, DWORD, void *, PHKEY result,
                     DWORD *disposition) {
  if (!result)
    return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (LONG answer; BluetoothOpen(parent, subKey, true, result, disposition, &answer))
    return answer;
  auto lock = RegistryLock();
  KeyRecord base;
  std::vector<PathPart> parts;
  std::string path;
  if (LONG err = ResolveSubKey(parent, subKey, &base, &parts, &path))
    return err;

  // Most calls find the key there already: one indexed read, no write.
  sqlite3_int64 id = 0;
  int rc = FindKey(path, &id);
  if (rc == SQLITE_ROW) {
    *result = NewKeyHandle(id, path);
    if (disposition)
      *disposition = REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  }
  if (rc != SQLITE_DONE)
    return ErrorFromSqlite(rc);
  if (parts.empty())
    return ERROR_KEY_DELETED; // the handle's own key is gone

  WriteOp op{WriteOp::kCreateKey};
  op.keyId = base.id;
  op.keyPath = base.path;
  op.parts = parts;
  LONG err = Write(op);
  if (err != ERROR_SUCCESS)
    return err;
  *result = NewKeyHandle(op.resultId, path);
  if (disposition)
    *disposition = op.created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY parent, LPCWSTR subKey, DWORD, DWORD, PHKEY result) {
  if (!result)
    return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (LONG answer; BluetoothOpen(parent, subKey, false, result, nullptr, &answer))
    return answer;
  auto lock = RegistryLock();
  KeyRecord base;
  std::vector<PathPart> parts;
  std::string path;
  if (LONG err = ResolveSubKey(parent, subKey, &base, &parts, &path))
    return err;
  sqlite3_int64 id = 0;
  int rc = FindKey(path, &id);
  if (rc == SQLITE_DONE)
    return parts.empty() ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW)
    return ErrorFromSqlite(rc);
  *result = NewKeyHandle(id, path);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE)
    return ERROR_SUCCESS;
  auto lock = RegistryLock();
  return FreeKeyHandle(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  if (LONG answer; BluetoothDelete(key, subKey, &answer))
    return answer;
  auto lock = RegistryLock();
  KeyRecord base;
  std::vector<PathPart> parts;
  std::string path;
  if (LONG err = ResolveSubKey(key, subKey, &base, &parts, &path))
    return err;
  if (parts.empty())
    return ERROR_INVALID_PARAMETER; // never the handle's own key, never the root
  WriteOp op{WriteOp::kDeleteKey};
  op.keyPath = path;
  return Write(op);
}
