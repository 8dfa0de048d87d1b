// The user-interface thread's message queue inside Qt's event loop. Other
// threads (and the UI thread itself) wake the loop by posting one coalesced
// Qt event. The thread's next Win32 timer is kept in a timer descriptor that
// the loop watches: SetTimer and KillTimer re-arm it from any thread without
// waking the loop, so a timer restarted (the keep-alive timers, at every
// heartbeat) or killed leaves no wake-up at its old deadline.
// Who takes the messages depends on the innermost loop: when it is
// GetMessageW's own wait, GetMessageW takes them and the program dispatches
// them; inside a modal loop of this layer the pump dispatches them.
#include "platform/qt/qt_internal.h"
#include "platform/threads.h"
#include "platform/trace.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

const QEvent::Type kPumpEvent = static_cast<QEvent::Type>(QEvent::User + 0x5A1);

class Pump : public QObject {
public:
  Pump() {
    fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd >= 0) {
      pthread_atfork(nullptr, nullptr, &GiveChildItsOwnTimer);
      notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
      QObject::connect(notifier, &QSocketNotifier::activated, this, [this] {
        uint64_t expiries;
        [[maybe_unused]] ssize_t n = read(fd, &expiries, sizeof expiries); // clears it
        Run();
      });
    } else {
      // Without a timer descriptor a Qt timer serves, re-armed only by the
      // pump itself: a restarted timer then wakes the thread at its old
      // deadline, which finds nothing due and waits again.
      NKDbgPrintfW(u"Event pump: no timer descriptor, Win32 timers on a Qt timer\r\n");
      timer.setSingleShot(true);
      // A coarse timer may fire a little before the Win32 timer is due; the
      // pump would find nothing to do and wake again a moment later.
      timer.setTimerType(Qt::PreciseTimer);
      QObject::connect(&timer, &QTimer::timeout, this, [this] { Run(); });
    }
  }
  bool event(QEvent *e) override {
    if (e->type() != kPumpEvent)
      return QObject::event(e);
    pending = false;
    Run();
    return true;
  }
  void Run();
  void ArmTimer() {
    if (fd >= 0) {
      ReportNextTimerDue(); // arrives in SetTimerDue under the core's lock
      return;
    }
    int due = NextTimerDueMs();
    if (due < 0)
      timer.stop();
    else
      timer.start(due);
  }
  // Any thread, under the core's lock: the descriptor expires dueMs from
  // now (at once for 0), or never for -1. Re-arming it does not wake the
  // loop that watches it.
  void SetTimerDue(int dueMs) {
    itimerspec spec{};
    if (dueMs >= 0) {
      spec.it_value.tv_sec = dueMs / 1000;
      spec.it_value.tv_nsec = (dueMs % 1000) * 1000000L;
      if (dueMs == 0)
        spec.it_value.tv_nsec = 1; // all zeros would disarm it
    }
    timerfd_settime(fd, 0, &spec, nullptr);
  }
  // A process forked without exec (the tests run the program so) shares
  // the descriptor's timer with its parent: each would re-arm and read the
  // other's. The child's descriptor number is given a timer of its own,
  // unarmed until the pump arms it before its next wait.
  static void GiveChildItsOwnTimer();
  int fd = -1;
  QSocketNotifier *notifier = nullptr;
  QTimer timer;
  std::atomic<bool> pending{false};
};

Pump *gPump = nullptr;

void Pump::GiveChildItsOwnTimer() {
  if (!gPump || gPump->fd < 0)
    return;
  int own = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (own < 0)
    return;
  dup3(own, gPump->fd, O_CLOEXEC);
  close(own);
}
int gModalDepth = 0;
int gWaitDepth = -1; // modal depth at which GetMessageW waits; -1: not waiting
bool gQuitPending = false;
int gQuitCode = 0;

void Pump::Run() {
  if (gQuitPending || gWaitDepth == gModalDepth) {
    // GetMessageW's wait is the innermost loop: it takes the messages.
    ArmTimer();
    return;
  }
  int code = 0;
  if (!PumpThreadMessages(&code)) {
    // The quit message came while a modal loop runs (or with no message
    // loop at all): every modal loop ends and GetMessageW hands it out later.
    gQuitPending = true;
    gQuitCode = code;
    std::vector<std::function<void()>> closers;
    for (auto &entry : vqt::ModalClosers())
      closers.push_back(entry.second);
    for (auto it = closers.rbegin(); it != closers.rend(); ++it)
      (*it)();
  }
  ArmTimer();
}

void Wake(DWORD thread, void *) {
  if (!gPump || thread != vqt::UiThread())
    return;
  if (!gPump->pending.exchange(true))
    QCoreApplication::postEvent(gPump, new QEvent(kPumpEvent));
}

} // namespace

namespace vqt {

std::vector<std::pair<int, std::function<void()>>> &ModalClosers() {
  static std::vector<std::pair<int, std::function<void()>>> closers;
  return closers;
}

ModalScope::ModalScope(std::function<void()> closer) {
  static int nextId = 0;
  id_ = ++nextId;
  ++gModalDepth;
  ModalClosers().emplace_back(id_, std::move(closer));
  ArmPump(); // messages already queued are dispatched inside the new loop
}

ModalScope::~ModalScope() {
  std::erase_if(ModalClosers(), [this](const auto &entry) { return entry.first == id_; });
  --gModalDepth;
  ArmPump();
}

bool QuitPending() { return gQuitPending; }

void ArmPump() { Wake(UiThread(), nullptr); }

void InstallEventPump() {
  if (!gPump)
    gPump = new Pump; // lives as long as the application
}

QObject *PumpObject() { return gPump; }

void (*WakeHook())(DWORD, void *) { return &Wake; }

bool TimerDueHook(DWORD thread, int dueMs, void *) {
  if (!gPump || gPump->fd < 0 || thread != UiThread())
    return false;
  gPump->SetTimerDue(dueMs);
  return true;
}

bool WaitInToolkit(void *) {
  if (!gPump || !OnUiThread())
    return false;
  if (gQuitPending && gModalDepth == 0) {
    gQuitPending = false;
    PostQuitMessage(gQuitCode);
    return true;
  }
  int saved = gWaitDepth;
  gWaitDepth = gModalDepth;
  gPump->ArmTimer();
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
  gWaitDepth = saved;
  return true;
}

} // namespace vqt
