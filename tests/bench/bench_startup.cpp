// Start-up benchmark: the time from launch to the first paint of the main
// window, and the peak memory (VmHWM) just after it, for vantrel and for a
// plain Qt window that shows the same picture, two texts and three buttons,
// measured in the same run, alternately, offscreen and under Xvfb (when it
// is installed). Goals: peak memory at most 1.15 times the plain window's,
// first paint at most 1.2 times. Then the memory a person's machine gives
// the program while it is connected: vantrel connected to vantrel-kbd
// (its connect sound asked for, with no sound server to play it) against
// the plain window, each sampled (VmRSS, and VmHWM) two seconds after it is
// connected or painted. Goal: at most 1.10 times. Also lists the libraries
// vantrel maps that the plain window does not. Prints the figures and
// ratios; never fails.
//
// Built a second time with VANTREL_STARTUP_BASELINE defined, this file is
// that plain window (startup_baseline_window): only Qt Widgets, nothing of
// the program.
#ifdef VANTREL_STARTUP_BASELINE

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QHBoxLayout>
#include <QImageReader>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

namespace {

// The picture at the top, a bold text in the lower half and one at the
// bottom, and the connect button across the window where vantrel has it
// (a sixth of the height, at four sixths); writes "painted" to the marker
// file when it first paints.
class Canvas : public QWidget {
public:
  Canvas(const char *marker, const QImage &picture)
      : marker_(marker), picture_(picture), connect_(new QPushButton("Connect", this)) {}

protected:
  void resizeEvent(QResizeEvent *) override {
    const int h = height() / 6;
    connect_->setGeometry(5, 4 * h, width() - 10, h);
  }
  void paintEvent(QPaintEvent *) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.drawImage((width() - picture_.width()) / 2, 5, picture_);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(22);
    painter.setFont(font);
    painter.drawText(QRect(0, height() / 2, width(), height() / 2), Qt::AlignHCenter | Qt::TextWordWrap,
                     "Pair your Vantrel keyboard with this device over Bluetooth, then tap "
                     "Connect. What you type on the keyboard goes to the window in front.");
    font.setPixelSize(16);
    painter.setFont(font);
    painter.drawText(QRect(0, height() - 40, width(), 40), Qt::AlignHCenter,
                     "Vantrel - your textile keyboard companion");
    if (marker_) {
      if (FILE *f = fopen(marker_, "w")) {
        fputs("painted\n", f);
        fclose(f);
      }
      marker_ = nullptr;
    }
  }

private:
  const char *marker_;
  QImage picture_;
  QPushButton *connect_;
};

} // namespace

// startup_baseline_window MARKER PICTURE.bmp
int main(int argc, char **argv) {
  QApplication app(argc, argv);
  // The picture read as vantrel reads it: the toolkit's own BMP reader.
  QFile file(argc > 2 ? argv[2] : "");
  QImage picture;
  if (file.open(QIODevice::ReadOnly)) {
    QByteArray bytes = file.readAll();
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "BMP");
    reader.setAutoDetectImageFormat(false);
    reader.read(&picture);
  }
  QWidget window;
  window.resize(480, 640);
  auto *layout = new QVBoxLayout(&window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new Canvas(argc > 1 ? argv[1] : nullptr, picture), 1);
  auto *bar = new QHBoxLayout;
  bar->addWidget(new QPushButton("Options"));
  bar->addWidget(new QPushButton("Quit"));
  layout->addLayout(bar);
  window.show();
  return app.exec();
}

#else // the benchmark

#include "common/settings_store.h"
#include "platform/registry.h"
#include "tests/support/sandbox.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <set>
#include <string>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Sample {
  double ms = -1;
  long hwmKb = -1;
  long rssKb = -1;
  std::set<std::string> libraries; // shared objects mapped at the sample
  std::string why;                  // no figure: how the program ended, its last words
};

// A "Vm...:" figure of /proc/PID/status in kB; -1 when missing.
long StatusKb(pid_t pid, const char *field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  const size_t n = strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0)
      return std::strtol(line.c_str() + n, nullptr, 10);
  return -1;
}
long VmHwmKb(pid_t pid) { return StatusKb(pid, "VmHWM:"); }

std::set<std::string> MappedLibraries(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
  std::set<std::string> names;
  std::string line;
  while (std::getline(in, line)) {
    const size_t slash = line.rfind('/');
    if (slash != std::string::npos && line.find(".so", slash) != std::string::npos)
      names.insert(line.substr(slash + 1));
  }
  return names;
}

// errors: where the program's error output goes (kept to say why a run
// gave no figures).
pid_t Spawn(const std::vector<std::string> &args, const std::vector<std::string> &env,
            const std::string &errors = "/dev/null") {
  fflush(stdout); // the child's freopen would print what is buffered again
  pid_t pid = fork();
  if (pid == 0) {
    for (const std::string &e : env)
      putenv(const_cast<char *>(e.c_str()));
    if (!freopen("/dev/null", "w", stdout) || !freopen(errors.c_str(), "w", stderr))
      _exit(126);
    std::vector<char *> argv;
    for (const std::string &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Whether a growing trace file holds a text yet. Each look reads only what
// was written since the last one: vantrel traces a line at a time, and the
// benchmark looks after each, so reading the whole file every time would
// charge vantrel's start-up with the benchmark's own work.
class TraceWatch {
public:
  TraceWatch(std::string path, std::string text) : path_(std::move(path)), text_(std::move(text)) {}
  ~TraceWatch() {
    if (fd_ >= 0)
      close(fd_);
  }
  bool Seen() {
    if (fd_ < 0 && (fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC)) < 0)
      return false;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd_, buffer, sizeof buffer)) > 0) {
      // Keep the end of what came before: the text may straddle two reads.
      tail_ = tail_.substr(tail_.size() > text_.size() ? tail_.size() - text_.size() : 0);
      tail_.append(buffer, static_cast<size_t>(n));
      if (tail_.find(text_) != std::string::npos)
        return seen_ = true;
    }
    return seen_;
  }

private:
  std::string path_, text_, tail_;
  int fd_ = -1;
  bool seen_ = false;
};

// Runs args with env until painted() says so (checked whenever a file in
// `watched` changes; nothing polls meanwhile) or 30 s pass; then samples
// the memory settleMs later and ends the program.
Sample Measure(const std::vector<std::string> &args, const std::vector<std::string> &env,
               const std::string &watched, const std::function<bool()> &painted,
               int settleMs = 100) {
  const int notify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  inotify_add_watch(notify, watched.c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE);
  const std::string errors = "/tmp/vantrel-bench-" + std::to_string(getpid()) + ".err";
  const auto start = Clock::now();
  pid_t pid = Spawn(args, env, errors);
  Sample s;
  while (Clock::now() - start < std::chrono::seconds(30)) {
    if (painted()) {
      s.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      usleep(static_cast<useconds_t>(settleMs) * 1000);
      s.hwmKb = VmHwmKb(pid);
      s.rssKb = StatusKb(pid, "VmRSS:");
      s.libraries = MappedLibraries(pid);
      // VANTREL_BENCH_SMAPS=DIR keeps each program's map of memory there
      // (named after the program and its pid), to see what is resident.
      if (const char *dir = getenv("VANTREL_BENCH_SMAPS")) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/smaps");
        std::ofstream(std::string(dir) + "/" + fs::path(args[0]).filename().string() + "." +
                      std::to_string(pid))
            << in.rdbuf();
      }
      break;
    }
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      pid = -1;
      break;
    }
    pollfd p{notify, POLLIN, 0};
    if (poll(&p, 1, 50) == 1) {
      char events[4096];
      while (read(notify, events, sizeof events) > 0) {
      }
    }
  }
  close(notify);
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  if (s.ms < 0) {
    // Why it never got there: the last lines of what it said.
    std::ifstream in(errors);
    std::deque<std::string> last;
    for (std::string line; std::getline(in, line);) {
      last.push_back(line);
      if (last.size() > 4)
        last.pop_front();
    }
    s.why = fs::path(args[0]).filename().string() + (pid < 0 ? " ended" : " timed out");
    for (const std::string &line : last)
      s.why += "\n      " + line.substr(0, 160);
  }
  std::error_code ignored;
  fs::remove(errors, ignored);
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1 : v[v.size() / 2];
}

// An Xvfb server of its own; display() is "" when none could be started.
class Xvfb {
public:
  Xvfb() {
    int ready[2];
    if (pipe(ready) != 0)
      return;
    fflush(stdout);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(ready[1], 3);
      if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
        _exit(126);
      execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten",
             "tcp", static_cast<char *>(nullptr));
      _exit(127);
    }
    close(ready[1]);
    char number[16] = {};
    pollfd p{ready[0], POLLIN, 0};
    if (pid_ > 0 && poll(&p, 1, 10000) == 1 && read(ready[0], number, sizeof number - 1) > 0)
      display_ = std::string(":") + std::to_string(std::atoi(number));
    close(ready[0]);
  }
  ~Xvfb() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string &display() const { return display_; }

private:
  pid_t pid_ = -1;
  std::string display_;
};

struct Figures {
  double appMs = -1, baseMs = -1, appKb = -1, baseKb = -1;
  size_t runs = 0, appPainted = 0, basePainted = 0, tries = 0;
  std::vector<std::string> extraLibraries; // mapped by vantrel, not by the baseline
  // Connected: resident and peak memory, medians.
  double connAppRssKb = -1, connBaseRssKb = -1, connAppHwmKb = -1, connBaseHwmKb = -1;
  size_t connRuns = 0, connTries = 0, connConnected = 0;
  std::vector<std::string> connExtraLibraries;
  std::string why; // the last run without a figure, told when there are none
};

// Starts vantrel-kbd offering COM3 in devices; returns its pid once the
// port is offered (-1 when it did not start).
pid_t StartKeyboard(const std::string &devices, const std::vector<std::string> &env) {
  std::error_code ignored;
  fs::remove(devices + "/COM3", ignored);
  pid_t pid = Spawn({VANTREL_KBD_EXE, "--port", "COM3", "--devices", devices}, env);
  for (int i = 0; i < 500 && pid > 0; ++i) {
    if (fs::exists(devices + "/COM3", ignored))
      return pid;
    usleep(10000);
  }
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return -1;
}

void StopKeyboard(pid_t pid) {
  if (pid <= 0)
    return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// Measures both programs `runs` times, alternately, on the platform named by
// `qpa` (with `display` for xcb); the first round only warms the caches.
Figures MeasureBoth(const std::string &qpa, const std::string &display) {
  const std::string vantrel = std::string(VANTREL_BINARY_DIR) + "/app/vantrel";
  testsupport::ProgramSandbox box("bench");
  const std::string root = box.path();
  for (const char *name : {"English.lang", "Intl English.kcod", "vtr.bmp", "vtr_wide.bmp"})
    box.CopyData(name, std::string("opt/Vantrel/") + name);
  // The settings of a returning user (a keyboard seen before), so that the
  // everyday start-up is measured, not the first run's questions.
  SettingsStore::WriteString(u"COMPORT", u"COM3:");
  SettingsStore::WriteDword(u"Initialised", 1);
  SettingsStore::WriteString(u"keycode", u"Intl English.kcod");
  SettingsStore::WriteString(u"language", u"English.lang");
  SettingsStore::WriteDword(u"Serial No", 0x00A5F301);
  RegistryUseDatabase("");
  const std::string trace = root + "/trace.log";
  const std::string marker = root + "/painted";
  // Neither program finds a bus or a sound server: the same for both, and
  // nothing of the machine's is touched.
  std::vector<std::string> common = {"QT_QPA_PLATFORM=" + qpa,
                                     "XDG_RUNTIME_DIR=" + root,
                                     "LC_ALL=en_US.UTF-8",
                                     "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + root + "/no-bus",
                                     "DBUS_SESSION_BUS_ADDRESS=unix:path=" + root + "/no-bus",
                                     "PULSE_SERVER=unix:" + root + "/no-sound-server"};
  if (!display.empty())
    common.push_back("DISPLAY=" + display);
  std::vector<std::string> appEnv = common;
  for (const std::string &e :
       {"VANTREL_ROOT=" + root, "VANTREL_REGISTRY=" + root + "/registry.db",
        "VANTREL_DEVICES=" + root + "/dev", "VANTREL_INJECT=log:" + root + "/inject.log",
        "VANTREL_TRACE=" + trace})
    appEnv.push_back(e);

  const int runs = 9; // the first only warms the caches: medians of 8
  std::vector<double> appMs, baseMs, appKb, baseKb;
  Figures f;
  for (int i = 0; i < runs; ++i) {
    fs::remove(marker);
    Sample b = Measure({VANTREL_STARTUP_BASELINE_EXE, marker, root + "/opt/Vantrel/vtr_wide.bmp"},
                       common, root, [&] { return fs::exists(marker); });
    fs::remove(trace);
    TraceWatch painting(trace, "yLine = ");
    Sample a = Measure({vantrel}, appEnv, root, [&] { return painting.Seen(); });
    for (const Sample *failed : {&b, &a})
      if (failed->ms < 0)
        f.why = failed->why;
    if (i == 0)
      continue; // warm-up: file cache and font cache
    ++f.tries;
    f.appPainted += a.ms >= 0;
    f.basePainted += b.ms >= 0;
    if (a.ms >= 0 && b.ms >= 0 && f.extraLibraries.empty())
      for (const std::string &name : a.libraries)
        if (!b.libraries.count(name))
          f.extraLibraries.push_back(name);
    if (a.ms >= 0) {
      appMs.push_back(a.ms);
      appKb.push_back(static_cast<double>(a.hwmKb));
    }
    if (b.ms >= 0) {
      baseMs.push_back(b.ms);
      baseKb.push_back(static_cast<double>(b.hwmKb));
    }
  }
  if (!appMs.empty() && !baseMs.empty()) {
    f.runs = std::min(appMs.size(), baseMs.size());
    f.appMs = Median(appMs);
    f.baseMs = Median(baseMs);
    f.appKb = Median(appKb);
    f.baseKb = Median(baseKb);
  }

  // Connected, alternately with the plain window; both sampled two seconds
  // after they are ready (the connect sound has been asked for by then).
  constexpr int kConnectedRuns = 5;
  constexpr int kSettleMs = 2000;
  std::vector<double> appRss, baseRss, appHwm, baseHwm;
  std::vector<std::string> connectEnv = appEnv;
  for (int i = 0; i < kConnectedRuns; ++i) {
    fs::remove(marker);
    Sample b = Measure({VANTREL_STARTUP_BASELINE_EXE, marker, root + "/opt/Vantrel/vtr_wide.bmp"},
                       common, root, [&] { return fs::exists(marker); }, kSettleMs);
    ++f.connTries;
    pid_t keyboard = StartKeyboard(root + "/dev", common);
    if (keyboard < 0)
      continue;
    fs::remove(trace);
    TraceWatch connected(trace, "Connect button: Disconnect");
    Sample a = Measure({vantrel, "--connect"}, connectEnv, root, [&] { return connected.Seen(); },
                       kSettleMs);
    StopKeyboard(keyboard);
    for (const Sample *failed : {&b, &a})
      if (failed->ms < 0)
        f.why = failed->why;
    f.connConnected += a.ms >= 0;
    if (a.ms >= 0 && b.ms >= 0 && f.connExtraLibraries.empty())
      for (const std::string &name : a.libraries)
        if (!b.libraries.count(name))
          f.connExtraLibraries.push_back(name);
    if (a.ms >= 0 && b.ms >= 0) {
      appRss.push_back(static_cast<double>(a.rssKb));
      baseRss.push_back(static_cast<double>(b.rssKb));
      appHwm.push_back(static_cast<double>(a.hwmKb));
      baseHwm.push_back(static_cast<double>(b.hwmKb));
    }
  }
  f.connRuns = appRss.size();
  if (f.connRuns > 0) {
    f.connAppRssKb = Median(appRss);
    f.connBaseRssKb = Median(baseRss);
    f.connAppHwmKb = Median(appHwm);
    f.connBaseHwmKb = Median(baseHwm);
  }
  return f;
}

void Report(const char *where, const Figures &f) {
  if (f.runs == 0) {
    printf("  %-9s no figures: vantrel painted in %zu of %zu runs, the plain window in %zu\n", where,
           f.appPainted, f.tries, f.basePainted);
    if (!f.why.empty())
      printf("    last: %s\n", f.why.c_str());
  } else {
    const double time = f.appMs / f.baseMs, memory = f.appKb / f.baseKb;
    printf("  %-9s vantrel  %6.1f ms %6.1f MB   plain window %6.1f ms %6.1f MB   (median of %zu)\n",
           where, f.appMs, f.appKb / 1024, f.baseMs, f.baseKb / 1024, f.runs);
    printf("  %-9s ratio first paint %.2f (goal <= 1.20) %s, peak memory %.2f (goal <= 1.15) %s\n",
           where, time, time <= 1.2 ? "met" : "NOT met", memory, memory <= 1.15 ? "met" : "NOT met");
    std::string extra;
    for (const std::string &name : f.extraLibraries)
      extra += " " + name;
    printf("  %-9s libraries beyond the plain window's:%s\n", where, extra.empty() ? " none" : extra.c_str());
  }
  if (f.connRuns == 0) {
    printf("  %-9s connected: no figures (vantrel connected in %zu of %zu runs)\n", where,
           f.connConnected, f.connTries);
    if (!f.why.empty())
      printf("    last: %s\n", f.why.c_str());
    return;
  }
  const double resident = f.connAppRssKb / f.connBaseRssKb, peak = f.connAppHwmKb / f.connBaseHwmKb;
  printf("  %-9s connected: vantrel %6.1f MB resident (peak %6.1f MB)   plain window %6.1f MB "
         "(peak %6.1f MB)   (median of %zu)\n",
         where, f.connAppRssKb / 1024, f.connAppHwmKb / 1024, f.connBaseRssKb / 1024,
         f.connBaseHwmKb / 1024, f.connRuns);
  printf("  %-9s connected: ratio resident memory %.3f (goal <= 1.10) %s, peak %.2f\n", where,
         resident, resident <= 1.10 ? "met" : "NOT met", peak);
  std::string extra;
  for (const std::string &name : f.connExtraLibraries)
    extra += " " + name;
  printf("  %-9s connected: libraries beyond the plain window's:%s\n", where,
         extra.empty() ? " none" : extra.c_str());
}

} // namespace

int main() {
  const std::string vantrel = std::string(VANTREL_BINARY_DIR) + "/app/vantrel";
  if (!fs::exists(vantrel) || !fs::exists(VANTREL_STARTUP_BASELINE_EXE)) {
    printf("bench_startup: vantrel or the plain window is not built; skipped\n");
    return 0;
  }
  printf("Start-up to the first paint and peak memory (VmHWM), vantrel against a plain Qt\n"
         "window with the same picture, two texts and three buttons\n");
  Report("offscreen", MeasureBoth("offscreen", ""));
  // A server that dies under the programs (another one took its display
  // on a busy machine) leaves no figures: then once more on a new one.
  Figures x11;
  bool started = false;
  std::string display;
  for (int attempt = 0; attempt < 2 && x11.runs == 0; ++attempt) {
    Xvfb xvfb;
    if (xvfb.display().empty())
      continue;
    started = true;
    display += " " + xvfb.display();
    x11 = MeasureBoth("xcb", xvfb.display());
  }
  if (started && x11.runs == 0)
    printf("  (Xvfb on display%s)\n", display.c_str());
  if (started)
    Report("Xvfb", x11);
  else
    printf("  Xvfb      not available; skipped\n");
  return 0;
}

#endif
