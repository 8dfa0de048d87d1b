// wev's log read back and the processes of the Wayland harnesses (see
// wayland_harness.h).
#include "tests/inject/wayland_harness.h"
#include "tests/inject/x_session.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

const std::u32string &WevLog::Typed() {
  FILE *f = fopen(path_.c_str(), "rb");
  if (!f)
    return typed_;
  fseek(f, offset_, SEEK_SET);
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) {
    partial_.append(buffer, n);
    offset_ += static_cast<long>(n);
  }
  fclose(f);
  // Each key is a line "wl_keyboard] key: ... state: 1 (pressed)" followed
  // by "sym: NAME (N), utf8: 'TEXT'".
  size_t start = 0, end;
  while ((end = partial_.find('\n', start)) != std::string::npos) {
    const std::string line = partial_.substr(start, end - start);
    start = end + 1;
    if (line.find("wl_keyboard] key:") != std::string::npos) {
      pressed_ = line.find("state: 1") != std::string::npos;
      continue;
    }
    const size_t sym = line.find("sym: "), at = line.find("utf8: '");
    if (sym == std::string::npos || at == std::string::npos)
      continue;
    std::string name = line.substr(sym + 5);
    name = name.substr(0, name.find(' '));
    // Control is followed through its releases too: it starts an entry only
    // while it is down.
    if (entries_ == kUnicodeEntries && (name == "Control_L" || name == "Control_R")) {
      control_ = pressed_;
      continue;
    }
    if (!pressed_)
      continue;
    pressed_ = false;
    std::string text = line.substr(at + 7);
    text = text.substr(0, text.rfind('\''));
    if (entries_ == kUnicodeEntries && control_ && (name == "U" || name == "u")) {
      entering_ = true;
      hex_.clear();
    } else if (entering_) {
      if (name == "space") {
        typed_.push_back(static_cast<char32_t>(strtoul(hex_.c_str(), nullptr, 16)));
        entering_ = false;
      } else {
        hex_ += text;
      }
    } else if (name == "BackSpace") {
      typed_.push_back(U'\b');
    } else if (name == "Return") {
      typed_.push_back(U'\n');
    } else {
      typed_ += DecodeUtf8(text);
    }
  }
  partial_.erase(0, start);
  return typed_;
}

std::u32string WevLog::Read(size_t count, int quietMs) {
  auto last = std::chrono::steady_clock::now();
  size_t seen = Typed().size();
  while (seen < count) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const size_t now = Typed().size();
    if (now != seen) {
      seen = now;
      last = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - last > std::chrono::milliseconds(quietMs)) {
      break;
    }
  }
  return typed_;
}

bool WevLog::Shows(const char *text) const {
  return wayland_harness::Slurp(path_).find(text) != std::string::npos;
}

std::u32string ApplyBackspaces(const std::u32string &text) {
  std::u32string out;
  for (char32_t c : text) {
    if (c != U'\b')
      out.push_back(c);
    else if (!out.empty())
      out.pop_back();
  }
  return out;
}

namespace wayland_harness {

bool OnPath(const char *program) {
  std::string cmd = std::string("command -v ") + program + " >/dev/null 2>&1";
  return system(cmd.c_str()) == 0;
}

std::string Slurp(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string MakeRuntimeFolder(const char *pattern, std::string &dir) {
  std::string name = pattern;
  if (!mkdtemp(name.data()))
    return "no temporary folder";
  dir = name;
  if ((getuid() == 0 && chown(dir.c_str(), 65534, 65534) != 0) || chmod(dir.c_str(), 0700) != 0)
    return "the runtime folder cannot be given to the compositor's user";
  return "";
}

void RemoveRuntimeFolder(const std::string &dir, const char *keepVariable) {
  if (!dir.empty() && !getenv(keepVariable))
    system(("rm -rf '" + dir + "'").c_str());
}

pid_t Spawn(const std::vector<std::string> &args, const std::vector<std::string> &env,
            const std::string &log, bool asNobody) {
  std::vector<std::string> all;
  if (asNobody)
    all = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char *> argv, envp;
  for (std::string &a : all)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envCopy = env;
  for (std::string &e : envCopy)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    freopen(log.c_str(), "w", stderr);
    dup2(2, 1);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

bool PollUntil(const std::function<bool()> &done, int tries, int everyMs, pid_t *process) {
  for (int i = 0; i < tries; ++i) {
    if (done())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
    int status;
    if (process && *process > 0 && waitpid(*process, &status, WNOHANG) == *process) {
      *process = -1;
      return false;
    }
  }
  return done();
}

} // namespace wayland_harness
