// The keyboard's side of a radio link served on a Unix stream socket
// (--listen): each connection made to the socket is one open port.
#pragma once

#include <string>

// Listens at `path` (a stale socket there is replaced; any other file is
// refused). Returns the listening descriptor, or -1 with `error` set.
int ListenAt(const std::string &path, std::string &error);
