// Another local user against the places the program falls back to when
// XDG_RUNTIME_DIR and VANTREL_DEVICES are unset (/tmp/vantrel-<uid>): a
// folder they make there first is passed over for one below the user's home
// folder, with a message, so that their device link and instance socket get
// nothing and the user's own ports and single-instance check still work. The program runs as an
// unprivileged test user, so that root's powers hide none of the checks; the
// other side is a second test user, or root where only root could reach the
// first user's private folder. Creating and switching to the test users
// needs root (CI runs as root); without it every case is skipped.
#include "common/settings_store.h"
#include "app_test_env.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using namespace testsupport;

namespace {

struct TestUser {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};
const TestUser kRoot{"root", 0, 0};

// The test user `name`, created without home or login when missing (another
// test may be creating it at the same moment: then it is looked up again).
bool EnsureUser(const std::string &name, TestUser *user) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (passwd *pw = getpwnam(name.c_str())) {
      *user = {name, pw->pw_uid, pw->pw_gid};
      return true;
    }
    const std::string command = "useradd --system --no-create-home --home-dir /nonexistent "
                                "--shell /usr/sbin/nologin --user-group " +
                                name + " >/dev/null 2>&1";
    if (system(command.c_str()) != 0)
      std::this_thread::sleep_for(200ms);
  }
  return false;
}

// In a forked child: becomes `user` (root stays root) with umask 022. Only
// system calls from here on.
void BecomeUser(const TestUser &user) {
  if (user.uid != 0 &&
      (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0))
    _exit(126);
  umask(022);
}

// Runs `action` as `user` in a child process; returns its exit code (0 when
// the action returned true).
int RunAs(const TestUser &user, const std::function<bool()> &action) {
  pid_t pid = fork();
  if (pid == 0) {
    BecomeUser(user);
    _exit(action() ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// A program run as `user` with exactly the environment `env`; its stdout and
// stderr go to `output`.
class UserProcess {
public:
  UserProcess(const TestUser &user, const std::vector<std::string> &args,
              const std::vector<std::string> &env, const std::string &output) {
    std::vector<char *> argv, envp;
    for (const std::string &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string &e : env)
      envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
      }
      BecomeUser(user);
      if (chdir("/") != 0)
        _exit(126);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
  }
  ~UserProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // The exit code, or -1 while it still runs after `limit`.
  int Wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      int status = 0;
      if (!exited_ && waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (exited_ || std::chrono::steady_clock::now() >= end)
        return exited_ ? code_ : -1;
      std::this_thread::sleep_for(20ms);
    }
  }
  bool Running() { return Wait(0ms) == -1; }

private:
  pid_t pid_ = -1;
  bool exited_ = false;
  int code_ = -1;
};

// Listens on each of `paths` with a socket file open to everyone, as a
// planted one would be, and writes to `record` "connection" for each client
// and every byte a client sends, until killed.
class PlantedListener {
public:
  PlantedListener(const TestUser &user, const std::vector<std::string> &paths,
                  const std::string &record) {
    std::vector<sockaddr_un> addrs(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
      addrs[i].sun_family = AF_UNIX;
      snprintf(addrs[i].sun_path, sizeof addrs[i].sun_path, "%s", paths[i].c_str());
    }
    int out = open(record.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    pid_ = fork();
    if (pid_ == 0) {
      BecomeUser(user);
      pollfd fds[32];
      int listeners = 0, count = 0;
      for (const sockaddr_un &addr : addrs) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
            chmod(addr.sun_path, 0777) != 0 || listen(fd, 8) != 0)
          _exit(1);
        fds[count++] = {fd, POLLIN, 0};
      }
      listeners = count;
      if (write(ready[1], "r", 1) != 1)
        _exit(1);
      for (;;) {
        if (poll(fds, count, -1) < 0)
          continue;
        for (int i = 0; i < count; ++i) {
          if (!(fds[i].revents & (POLLIN | POLLHUP)))
            continue;
          if (i < listeners) {
            int client = accept(fds[i].fd, nullptr, nullptr);
            if (client >= 0 && count < 32) {
              fds[count++] = {client, POLLIN, 0};
              if (write(out, "connection\n", 11) < 0)
                _exit(1);
            }
            continue;
          }
          char buf[256];
          ssize_t n = read(fds[i].fd, buf, sizeof buf);
          if (n > 0 && write(out, buf, static_cast<size_t>(n)) < 0)
            _exit(1);
          if (n <= 0)
            fds[i].events = 0; // gone: keep the slot, stop watching it
        }
      }
    }
    close(ready[1]);
    char c = 0;
    listening_ = read(ready[0], &c, 1) == 1;
    close(ready[0]);
    close(out);
  }
  ~PlantedListener() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  bool listening() const { return listening_; }

private:
  pid_t pid_ = -1;
  bool listening_ = false;
};


bool Has(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// The instance socket's name for a settings database: one instance per
// user and database (FNV-1a of the database path).
std::string InstanceName(uid_t uid, const std::string &database) {
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : database)
    hash = (hash ^ c) * 1099511628211ull;
  char name[64];
  snprintf(name, sizeof name, "vantrel-instance-%u-%016llx", static_cast<unsigned>(uid),
           static_cast<unsigned long long>(hash));
  return name;
}

class TwoUsers : public ::testing::Test {
protected:
  void SetUp() override {
    if (geteuid() != 0)
      GTEST_SKIP() << "skipped: needs root to create the test users vantrel-test-a and "
                      "vantrel-test-b and to run the program as them (CI runs as root)";
    ASSERT_TRUE(EnsureUser("vantrel-test-a", &user_)) << "useradd vantrel-test-a failed";
    ASSERT_TRUE(EnsureUser("vantrel-test-b", &other_)) << "useradd vantrel-test-b failed";
    fallback_ = "/tmp/vantrel-" + std::to_string(user_.uid);
    instance_ = InstanceName(user_.uid, box_.path() + "/registry.db");
    CleanFallbackPlaces();

    // The programs where both users can run them (the build tree may lie in
    // a folder closed to them).
    char pattern[] = "/tmp/vantrel-2u-bin-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    bin_ = pattern;
    chmod(bin_.c_str(), 0755);
    for (const char *exe : {VANTREL_EXE, VANTREL_KBD_EXE})
      fs::copy_file(exe, bin_ + "/" + fs::path(exe).filename().string());

    // The first user's sandbox: their own settings, data and output files.
    PresetProgramRun(box_, u"COM3:");
    RegistryUseDatabase("");
    for (const auto &entry : fs::recursive_directory_iterator(box_.path()))
      lchown(entry.path().c_str(), user_.uid, user_.gid);
    chown(box_.path().c_str(), user_.uid, user_.gid);
    env_ = {"PATH=/usr/local/bin:/usr/bin:/bin",
            "HOME=" + box_.path(),
            "VANTREL_ROOT=" + box_.path(),
            "VANTREL_REGISTRY=" + box_.path() + "/registry.db",
            "VANTREL_INJECT=log:" + box_.path() + "/inject.log",
            "VANTREL_TRACE=" + box_.path() + "/trace.log",
            "QT_QPA_PLATFORM=offscreen",
            "VANTREL_PLATFORM=PocketPC"};
    PassSanitizerOptions();
  }
  void TearDown() override {
    if (geteuid() != 0)
      return;
    CleanFallbackPlaces();
    std::error_code ignored;
    if (!bin_.empty())
      fs::remove_all(bin_, ignored);
  }

  void CleanFallbackPlaces() {
    std::error_code ignored;
    fs::remove_all(fallback_, ignored);
    unlink(("/tmp/" + instance_).c_str());
  }
  // The sanitizer build's options reach the programs run as the test users;
  // the leak suppressions are copied where those users can read them.
  void PassSanitizerOptions() {
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
      if (const char *value = getenv(name))
        env_.push_back(std::string(name) + "=" + value);
    if (getenv("LSAN_OPTIONS")) {
      fs::copy_file(std::string(VANTREL_SOURCE_DIR) + "/tests/lsan.supp", bin_ + "/lsan.supp");
      env_.push_back("LSAN_OPTIONS=suppressions=" + bin_ + "/lsan.supp");
    }
  }

  std::unique_ptr<UserProcess> StartVantrel(const TestUser &user, const std::vector<std::string> &extra,
                                            const std::string &output) {
    std::vector<std::string> args = {bin_ + "/vantrel"};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<UserProcess>(user, args, env_, box_.path() + "/" + output);
  }
  std::unique_ptr<UserProcess> StartKeyboard(const TestUser &user,
                                             const std::vector<std::string> &extra,
                                             const std::string &output = "kbd.out") {
    std::vector<std::string> args = {bin_ + "/vantrel-kbd", "--port", "COM3", "--type",
                                     "abc", "--type-delay", "500"};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<UserProcess>(user, args, env_, box_.path() + "/" + output);
  }
  std::string File(const std::string &name) { return ReadFile(box_.path() + "/" + name); }
  bool TraceHas(const std::string &text, std::chrono::milliseconds limit) {
    return WaitFor([&] { return Has(File("trace.log"), text); }, limit);
  }
  // Key lines the log injector wrote: anything typed at all.
  bool AnythingTyped() {
    const std::string log = File("inject.log");
    return Has(log, "keybd_event") || Has(log, "PostKeybdMessage") || Has(log, "SendInput");
  }
  mode_t ModeOf(const std::string &path) {
    struct stat st{};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
  }

  ProgramSandbox box_;
  TestUser user_, other_;
  std::string fallback_, instance_, bin_;
  std::vector<std::string> env_;
};

// What the program says once when the other user's folder is passed over.
std::string PassedOver(const std::string &fallback, const TestUser &other,
                       const std::string &home) {
  return fallback + " belongs to another user (uid " + std::to_string(other.uid) + "); " + home +
         "/.cache/vantrel/run is used instead";
}

TEST_F(TwoUsers, PlantedDeviceFolderIsPassedOverAndTheUsersOwnPortWorks) {
  // The other user makes the first user's fallback devices folder, offers
  // their own emulated keyboard there as COM3 and opens its terminal to
  // everyone.
  const std::string devices = fallback_ + "/devices";
  ASSERT_EQ(RunAs(other_, [&] {
              return mkdir(fallback_.c_str(), 0755) == 0 && mkdir(devices.c_str(), 0755) == 0;
            }),
            0);
  auto planted = StartKeyboard(other_, {"--devices", devices});
  ASSERT_TRUE(WaitFor([&] { return fs::exists(devices + "/COM3"); }, 10s)) << File("kbd.out");
  const std::string terminal = fs::read_symlink(devices + "/COM3").string();
  ASSERT_EQ(RunAs(other_, [&] { return chmod(terminal.c_str(), 0666) == 0; }), 0);
  // The user's own keyboard, offered in the devices folder below their home.
  const std::string own = box_.path() + "/.cache/vantrel/run/devices";
  auto keyboard = StartKeyboard(user_, {"--devices", own}, "own-kbd.out");
  ASSERT_TRUE(WaitFor([&] { return fs::exists(own + "/COM3"); }, 10s)) << File("own-kbd.out");

  auto vantrel = StartVantrel(user_, {"--connect"}, "vantrel.out");
  ASSERT_TRUE(WaitFor([&] { return Has(File("inject.log"), "\"vk\":67"); }, 30s))
      << File("trace.log") << File("vantrel.out");
  EXPECT_TRUE(Has(File("own-kbd.out"), "\"event\":\"open\"")) << File("own-kbd.out");
  EXPECT_FALSE(Has(File("kbd.out"), "\"event\":\"open\"")) << File("kbd.out");
  const std::string note = PassedOver(fallback_, other_, box_.path());
  EXPECT_TRUE(Has(File("trace.log"), note)) << File("trace.log");
  EXPECT_TRUE(Has(File("vantrel.out"), "vantrel: " + note)) << File("vantrel.out");
  EXPECT_TRUE(vantrel->Running());
}

TEST_F(TwoUsers, PlantedInstanceFolderGetsNothingAndTheCheckStillWorks) {
  // The other user makes the first user's fallback folder and listens where
  // the first user's instance socket would be (and in /tmp itself).
  ASSERT_EQ(RunAs(other_, [&] {
              return mkdir(fallback_.c_str(), 0777) == 0 && chmod(fallback_.c_str(), 0777) == 0;
            }),
            0);
  const std::string record = box_.path() + "/planted.record";
  PlantedListener planted(other_, {fallback_ + "/" + instance_, "/tmp/" + instance_}, record);
  ASSERT_TRUE(planted.listening());

  auto vantrel = StartVantrel(user_, {"--connect"}, "vantrel.out");
  // Up with its window, or gone after handing its launch over.
  ASSERT_TRUE(WaitFor([&] { return Has(File("trace.log"), "Connect button") || !vantrel->Running(); },
                      30s))
      << File("vantrel.out");
  EXPECT_TRUE(vantrel->Running()) << File("vantrel.out");
  const std::string note = PassedOver(fallback_, other_, box_.path());
  EXPECT_TRUE(Has(File("vantrel.out"), "vantrel: " + note)) << File("vantrel.out");
  EXPECT_TRUE(Has(File("trace.log"), note));
  EXPECT_FALSE(Has(File("vantrel.out"), "without the single-instance check"))
      << File("vantrel.out");
  // The user's later launch is handed to the first, below the home folder:
  // it quits it, and the other user's listeners hear nothing.
  auto quit = StartVantrel(user_, {"--quit"}, "quit.out");
  EXPECT_EQ(quit->Wait(20s), 0) << File("quit.out");
  EXPECT_EQ(vantrel->Wait(20s), 0) << File("trace.log");
  EXPECT_EQ(ReadFile(record), "");
}

TEST_F(TwoUsers, LaunchTalksOnlyToAnInstanceOfItsOwnUser) {
  // Only root can put a listener into the user's private folder; the launch
  // still checks who answers and says nothing to it.
  ASSERT_EQ(mkdir(fallback_.c_str(), 0700), 0);
  ASSERT_EQ(chown(fallback_.c_str(), user_.uid, user_.gid), 0);
  const std::string record = box_.path() + "/planted.record";
  PlantedListener planted(kRoot, {fallback_ + "/" + instance_}, record);
  ASSERT_TRUE(planted.listening());

  auto vantrel = StartVantrel(user_, {"--connect"}, "vantrel.out");
  ASSERT_TRUE(TraceHas("Connect button", 30s)) << File("vantrel.out");
  const std::string refusal = "single instance: " + fallback_ + "/" + instance_ +
                              " is served by another user (uid 0); running without the "
                              "single-instance check";
  EXPECT_TRUE(Has(File("vantrel.out"), "vantrel: " + refusal)) << File("vantrel.out");
  EXPECT_TRUE(vantrel->Running()) << File("vantrel.out");
  EXPECT_TRUE(WaitFor([&] { return Has(ReadFile(record), "connection"); }, 5s));
  EXPECT_EQ(ReadFile(record), "connection\n") << "the launch sent its request to root's listener";
}

TEST_F(TwoUsers, OwnFallbackPlacesWorkAndRefuseOtherUsers) {
  // The user's own emulated keyboard in the fallback folder, which the
  // emulator creates private.
  auto keyboard = StartKeyboard(user_, {});
  const std::string devices = fallback_ + "/devices";
  ASSERT_TRUE(WaitFor([&] { return fs::exists(devices + "/COM3"); }, 10s)) << File("kbd.out");
  EXPECT_EQ(ModeOf(fallback_), 0700u);
  EXPECT_EQ(ModeOf(devices), 0700u);

  auto vantrel = StartVantrel(user_, {"--connect"}, "vantrel.out");
  ASSERT_TRUE(TraceHas("Connect button: Disconnect", 30s)) << File("trace.log");
  ASSERT_TRUE(WaitFor([&] { return Has(File("inject.log"), "\"vk\":67"); }, 20s))
      << File("inject.log");
  // Both files hold every key typed: the user's alone.
  EXPECT_EQ(ModeOf(box_.path() + "/trace.log"), 0600u);
  EXPECT_EQ(ModeOf(box_.path() + "/inject.log"), 0600u);

  // The instance socket is in the private fallback folder; root knocking
  // there with a quit request is refused.
  const std::string socketPath = fallback_ + "/" + instance_;
  struct stat st{};
  ASSERT_EQ(lstat(socketPath.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_uid, user_.uid);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  // The instance may close the connection before the request is written.
  (void)send(fd, "quit\n", 5, MSG_NOSIGNAL);
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 10000), 1) << "the instance neither answered nor closed";
  char answer[8];
  // Closed (or reset, the request unread) without an answer.
  EXPECT_LE(read(fd, answer, sizeof answer), 0) << "root's request was answered";
  close(fd);
  EXPECT_TRUE(TraceHas("single instance: refused a request from another user (uid 0)", 5s));
  EXPECT_TRUE(vantrel->Running());

  // The user's own later launch is handed over: it quits the first.
  auto quit = StartVantrel(user_, {"--quit"}, "quit.out");
  EXPECT_EQ(quit->Wait(20s), 0) << File("quit.out");
  EXPECT_EQ(vantrel->Wait(20s), 0) << File("trace.log");
}

} // namespace
