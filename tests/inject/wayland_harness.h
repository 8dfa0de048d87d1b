// What the Wayland harnesses (sway_session, mutter_session) share: what the
// window `wev` received, read back as text from its log, and the starting,
// polling and clearing up of the processes and the runtime folder around it.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// The key lines wev writes to its log, turned into the characters they
// typed. Reads only what was written since the last call, so that polling a
// long log stays cheap.
class WevLog {
public:
  // Whether a Ctrl+Shift+U entry (its hexadecimal digits and Space) counts as
  // the one character it names, as GTK and IBus read it, or as its keys.
  enum Entries { kKeysAsTyped, kUnicodeEntries };

  WevLog() = default;
  WevLog(std::string path, Entries entries) : path_(std::move(path)), entries_(entries) {}

  // The characters of the keys wev saw pressed so far, in order: each key's
  // text, BackSpace as U+0008 and Return as '\n'.
  const std::u32string &Typed();
  // Waits until `count` characters arrived or quietMs passed without any;
  // returns what arrived. Polls every few milliseconds, so that a rate
  // measured through it is not rounded to a coarse poll.
  std::u32string Read(size_t count, int quietMs = 10000);
  // Forgets what arrived so far (the next Read counts from zero).
  void Clear() { typed_.clear(); }
  // Whether the log so far holds `text` (read whole, for the start's waits).
  bool Shows(const char *text) const;

private:
  std::string path_;
  Entries entries_ = kKeysAsTyped;
  long offset_ = 0;       // bytes of the log parsed so far
  std::string partial_;   // a line not yet complete
  bool pressed_ = false;  // the last key line was a press
  bool control_ = false;  // a Control key is down
  bool entering_ = false; // inside a Ctrl+Shift+U entry
  std::string hex_;       // its digits so far
  std::u32string typed_;
};

// text with every U+0008 taking back the character before it, as a text
// field shows what was typed with BackSpace among it.
std::u32string ApplyBackspaces(const std::u32string &text);

// The two sessions' own helpers, in a namespace of their own: their plain
// names stand in other tests' files too, which a unity build may batch with
// a file including this header.
namespace wayland_harness {

// Whether the shell finds program.
bool OnPath(const char *program);
// The whole of a file ("" when it cannot be read).
std::string Slurp(const std::string &path);
// Makes a folder from the mkdtemp pattern into dir, of mode 0700 and owned
// by the user the compositor runs as (nobody, 65534, when the tests run as
// root, since the compositors refuse root). Returns "" or why it failed.
std::string MakeRuntimeFolder(const char *pattern, std::string &dir);
// Removes dir with all in it, unless the environment names keepVariable
// (the folder is then kept, with its logs, for a look).
void RemoveRuntimeFolder(const std::string &dir, const char *keepVariable);
// Starts args (args[0] a full path) with exactly env, its stdout and stderr
// into the file log, as user nobody when asNobody. Returns its process id
// (the caller ends it with KillChild), or -1 when fork fails.
pid_t Spawn(const std::vector<std::string> &args, const std::vector<std::string> &env,
            const std::string &log, bool asNobody);
// Asks done() up to `tries` times, everyMs apart, until it holds. When
// process points at a process id above zero, that process is to bring it
// about: if it ends first, it is reaped, *process set to -1 and false
// returned.
bool PollUntil(const std::function<bool()> &done, int tries, int everyMs,
               pid_t *process = nullptr);

} // namespace wayland_harness
