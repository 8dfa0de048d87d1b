// Messages and timers from other threads reach the UI thread wherever it
// waits: in GetMessageW, in a modal dialog, in a message box; and a message
// box asked for by a worker is answered while the UI thread keeps running.
#include "platform/resource_formats.h"
#include "platform/threads.h"
#include "tests/support/toolkit.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

using namespace testsupport;

namespace {

// Clicks the given button of the message box on screen, once one is there.
void AnswerMessageBoxSoon(QMessageBox::StandardButton button, std::atomic<bool> *answered = nullptr) {
  auto *poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, button, answered] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible() && box->button(button)) {
        box->button(button)->click();
        if (answered)
          *answered = true;
        poll->deleteLater();
        return;
      }
  });
  poll->start(20);
}

TEST(EventPump, WorkerPostsAndTimersArriveWhileGetMessageWaits) {
  std::atomic<int> posted{0}, ticks{0};
  HWND hwnd = MakeTestWindow([&](HWND h, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
    if (msg == WM_APP + 1)
      ++posted;
    if (msg == WM_TIMER && wParam == 5 && ++ticks == 3) {
      KillTimer(h, 5);
      PostQuitMessage(0);
    }
    return -2;
  });
  std::thread worker([hwnd] {
    for (int i = 0; i < 50; ++i)
      PostMessageW(hwnd, WM_APP + 1, i, 0);
    SetTimer(hwnd, 5, 30, nullptr); // armed from the worker, runs on the UI thread
  });
  EXPECT_TRUE(RunMessageLoop(5000));
  worker.join();
  EXPECT_EQ(posted, 50);
  EXPECT_EQ(ticks, 3);
  DestroyWindow(hwnd);
}

// The times the calling thread went to sleep so far.
long SleepsOfThisThread() {
  std::ifstream status("/proc/thread-self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
      return std::stol(line.substr(24));
  return -1;
}

// A timer restarted again and again from another thread (the link's
// keep-alive timers, at every key and heartbeat) wakes the waiting loop
// once, when it is due at last: neither the restarts nor the deadlines they
// replaced wake it.
TEST(EventPump, ATimerRestartedFromAnotherThreadWakesTheLoopOnlyWhenDue) {
  std::atomic<int> ticks{0};
  HWND hwnd = MakeTestWindow([&](HWND h, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
    if (msg == WM_TIMER && wParam == 7) {
      ++ticks;
      KillTimer(h, 7);
      PostQuitMessage(0);
    }
    return -2;
  });
  Spin(200); // the window's first paint and whatever it sets off
  SetTimer(hwnd, 7, 300, nullptr);
  std::thread worker([hwnd] {
    for (int i = 0; i < 8; ++i) {
      Sleep(100);
      SetTimer(hwnd, 7, 300, nullptr); // due 300 ms later again
    }
  });
  const long before = SleepsOfThisThread();
  EXPECT_TRUE(RunMessageLoop(5000));
  const long slept = SleepsOfThisThread() - before;
  worker.join();
  EXPECT_EQ(ticks, 1);
  // The one wake for the timer, and some slack for a busy machine; each
  // old deadline that went off would add one (some eight in all).
  EXPECT_LE(slept, 3) << "the loop woke at deadlines the restarts had replaced";
  DestroyWindow(hwnd);
}

INT_PTR CALLBACK_PumpDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
  static std::thread worker;
  static int seen;
  switch (msg) {
  case WM_INITDIALOG:
    seen = 0;
    worker = std::thread([dialog] {
      PostMessageW(dialog, WM_APP + 2, 0, 0);
      SetTimer(dialog, 9, 20, nullptr);
    });
    return TRUE;
  case WM_APP + 2:
    seen |= 1;
    return TRUE;
  case WM_TIMER:
    if (wParam == 9 && seen == 1) {
      KillTimer(dialog, 9);
      worker.join();
      EndDialog(dialog, 7);
    }
    return TRUE;
  }
  return FALSE;
}

TEST(EventPump, ModalDialogKeepsDispatchingWorkerMessagesAndTimers) {
  const DLGITEMTEMPLATEW items[] = {{u"STATIC", u"Hello", 10, WS_VISIBLE, 0, 5, 5, 60, 10}};
  const DLGTEMPLATE tmpl{WS_POPUP | WS_CAPTION, 0, u"Pump", nullptr, 8, 0, 0, 100, 80, items, 1};
  HWND owner = MakeTestWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return -2; });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { PostQuitMessage(5); });
  watchdog.start(5000);
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, &tmpl, owner, CALLBACK_PumpDialog, 0), 7);
  DestroyWindow(owner);
}

TEST(EventPump, MessageBoxKeepsDispatchingWorkerMessages) {
  std::atomic<bool> answered{false};
  HWND hwnd = MakeTestWindow([&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
    if (msg == WM_APP + 3) // dispatched inside the box's own loop
      AnswerMessageBoxSoon(QMessageBox::Yes, &answered);
    return -2;
  });
  std::thread worker([hwnd] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PostMessageW(hwnd, WM_APP + 3, 0, 0);
  });
  int answer = MessageBoxW(hwnd, u"Continue?", u"Question", MB_YESNO | MB_ICONQUESTION);
  worker.join();
  EXPECT_TRUE(answered);
  EXPECT_EQ(answer, IDYES);
  DestroyWindow(hwnd);
}

// A question asked with verbs shows them on its Yes and No buttons, asked
// from the UI thread or a worker, and answers as those buttons do; a plain
// box asked meanwhile keeps Yes and No.
TEST(EventPump, QuestionsAskedWithVerbsShowThemAndAnswerByThem) {
  struct Case {
    QMessageBox::StandardButton click;
    int answer;
    bool fromWorker;
  };
  const Case cases[] = {{QMessageBox::Yes, IDYES, false}, {QMessageBox::No, IDNO, true}};
  for (const Case &c : cases) {
    std::atomic<bool> labelled{false};
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, &c, &labelled] {
      for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
          labelled = box->button(QMessageBox::Yes)->text() == "Restart Now" &&
                     box->button(QMessageBox::No)->text() == "Later";
          box->button(c.click)->click();
          poll->deleteLater();
          return;
        }
    });
    poll->start(20);
    std::atomic<int> answer{0};
    auto ask = [&answer] {
      answer = AskWithVerbsW(nullptr, u"Restart now?", u"Vantrel", MB_ICONQUESTION, u"Restart Now",
                             u"Later");
    };
    if (c.fromWorker) {
      std::thread worker(ask);
      while (answer == 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      worker.join();
    } else {
      ask();
    }
    EXPECT_TRUE(labelled) << c.answer;
    EXPECT_EQ(answer, c.answer);
  }
  // Without verbs: Yes and No.
  std::atomic<bool> plain{false};
  auto *poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, &plain] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
        plain = box->button(QMessageBox::Yes)->text() != "Restart Now";
        box->button(QMessageBox::Yes)->click();
        poll->deleteLater();
        return;
      }
  });
  poll->start(20);
  EXPECT_EQ(MessageBoxW(nullptr, u"Restart now?", u"Vantrel", MB_YESNO), IDYES);
  EXPECT_TRUE(plain);
}

TEST(EventPump, WorkerMessageBoxIsShownByTheUiThreadAndAnswered) {
  std::atomic<int> answer{0}, ticks{0};
  HWND hwnd = MakeTestWindow([&](HWND h, UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
    if (msg == WM_TIMER && wParam == 1)
      ++ticks; // the UI thread keeps running its own work
    if (msg == WM_APP + 4) {
      KillTimer(h, 1);
      PostQuitMessage(0);
    }
    return -2;
  });
  SetTimer(hwnd, 1, 15, nullptr);
  AnswerMessageBoxSoon(QMessageBox::No);
  std::thread worker([&] {
    answer = MessageBoxW(hwnd, u"Disconnect?", u"Link", MB_YESNO | MB_TOPMOST | MB_SETFOREGROUND);
    PostMessageW(hwnd, WM_APP + 4, 0, 0);
  });
  EXPECT_TRUE(RunMessageLoop(5000));
  worker.join();
  EXPECT_EQ(answer, IDNO);
  EXPECT_GT(ticks, 0);
  DestroyWindow(hwnd);
}

TEST(EventPump, QuitInsideModalDialogEndsItAndReachesTheMainLoop) {
  const DLGTEMPLATE tmpl{WS_POPUP, 0, u"Quit", nullptr, 8, 0, 0, 80, 60, nullptr, 0};
  HWND owner = MakeTestWindow([&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
    if (msg == WM_APP + 5) {
      INT_PTR r = DialogBoxIndirectParamW(
          nullptr, &tmpl, nullptr,
          [](HWND, UINT m, WPARAM, LPARAM) -> INT_PTR {
            if (m == WM_INITDIALOG)
              PostQuitMessage(3);
            return m == WM_INITDIALOG;
          },
          0);
      EXPECT_EQ(r, -1);
    }
    return -2;
  });
  PostMessageW(owner, WM_APP + 5, 0, 0);
  MSG msg{};
  int loops = 0;
  while (GetMessageW(&msg, nullptr, 0, 0) && ++loops < 1000)
    DispatchMessageW(&msg);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 3u);
  DestroyWindow(owner);
}

} // namespace
