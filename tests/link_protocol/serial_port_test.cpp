// The serial port's time-outs measured on a pseudo-terminal, what a port
// does when its other side goes away or its handle is closed, and which
// links it refuses to open. A time-out never ends a call early, so lower
// bounds are exact; a loaded machine may wake a call late, so upper bounds
// only tell the time-out that applies from the next longer one, or from
// waiting for ever, with kLateMs to spare.
#include "tests/link_protocol/link_test_support.h"

#include "platform/inject.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace linktest {
namespace {

using Clock = std::chrono::steady_clock;

// How late a loaded machine may wake a call whose time-out has passed.
constexpr double kLateMs = 1500.0;

class SerialPort : public LinkTest {
protected:
  // Reads n bytes from the port, measuring how long the call took.
  BOOL TimedRead(DWORD n, DWORD *got, double *ms) {
    uint8_t buf[64];
    auto start = Clock::now();
    BOOL ok = ReadFile(AppGlobals.portHandle.load(), buf, n, got, nullptr);
    *ms = MsSince(start);
    return ok;
  }
  void SetTimeouts(COMMTIMEOUTS t) { ASSERT_TRUE(SetCommTimeouts(AppGlobals.portHandle.load(), &t)); }
};

double CpuMs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

TEST_F(SerialPort, EmptyReadsEndAfterMultiplierTimesCountPlusConstant) {
  OpenPort();
  DWORD got = 99;
  double ms = 0;
  EXPECT_TRUE(TimedRead(12, &got, &ms));
  EXPECT_EQ(got, 0u);
  EXPECT_GE(ms, 2405.0);
  EXPECT_LT(ms, 2405.0 + kLateMs);
  EXPECT_TRUE(TimedRead(1, &got, &ms));
  EXPECT_GE(ms, 208.0);
  EXPECT_LT(ms, 210.0 + kLateMs) << "the time-out of one byte, not of twelve";
}

TEST_F(SerialPort, ByteEndsAOneByteReadAsItArrives) {
  OpenPort();
  std::vector<double> lateness;
  for (int i = 0; i < 20; ++i) {
    Clock::time_point sent;
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      sent = Clock::now();
      keyboard->Send({0x41});
    });
    uint8_t b = 0;
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(AppGlobals.portHandle.load(), &b, 1, &got, nullptr));
    Clock::time_point back = Clock::now();
    writer.join();
    ASSERT_EQ(got, 1u);
    lateness.push_back(std::chrono::duration<double, std::milli>(back - sent).count());
  }
  // Returned as the byte came, not after the 120 ms interval (how fast is
  // for bench_link to measure).
  std::sort(lateness.begin(), lateness.end());
  EXPECT_LT(lateness[lateness.size() / 2], 60.0) << "median ms from write to return";
}

TEST_F(SerialPort, GapAfterTheFirstByteEndsTheRead) {
  OpenPort();
  keyboard->Send({1, 2, 3});
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60)); // within the interval
    keyboard->Send({4});
  });
  DWORD got = 0;
  double ms = 0;
  EXPECT_TRUE(TimedRead(12, &got, &ms));
  writer.join();
  EXPECT_EQ(got, 4u);
  // 120 ms after the last byte (at 60 ms), far before 2410 ms.
  EXPECT_GE(ms, 175.0);
  EXPECT_LT(ms, 180.0 + kLateMs);
  // A read returns as soon as its bytes are all there, without waiting
  // for an interval or a total time-out (made long here to tell them apart).
  SetTimeouts({5000, 500, 0, 10, 100});
  keyboard->Send(Bytes(12, 0x41));
  EXPECT_TRUE(TimedRead(12, &got, &ms));
  EXPECT_EQ(got, 12u);
  EXPECT_LT(ms, kLateMs);
}

TEST_F(SerialPort, AllZeroTimeoutsWaitForEveryByte) {
  OpenPort();
  SetTimeouts({0, 0, 0, 0, 0});
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    keyboard->Send(Bytes(5, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    keyboard->Send(Bytes(7, 2));
  });
  DWORD got = 0;
  double ms = 0;
  EXPECT_TRUE(TimedRead(12, &got, &ms));
  writer.join();
  EXPECT_EQ(got, 12u);
  EXPECT_GE(ms, 590.0);
}

TEST_F(SerialPort, WriteGivesUpAfterItsTotalTimeout) {
  OpenPort();
  HANDLE h = AppGlobals.portHandle.load();
  // Fill the pty until nothing more fits (nobody reads the other side).
  SetTimeouts({120, 200, 10, 0, 50});
  std::vector<uint8_t> big(1 << 20, 0x41);
  DWORD put = 0;
  EXPECT_FALSE(WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &put, nullptr));
  EXPECT_GT(put, 0u);
  EXPECT_LT(put, big.size());
  SetTimeouts({120, 200, 10, 10, 100});
  auto start = Clock::now();
  EXPECT_FALSE(WriteFile(h, big.data(), 12, &put, nullptr));
  double ms = MsSince(start);
  EXPECT_GE(ms, 215.0);
  EXPECT_LT(ms, 220.0 + kLateMs);
}

TEST_F(SerialPort, FarSideClosingFailsReadsAndWritesQuicklyWithoutSpinning) {
  OpenPort();
  HANDLE h = AppGlobals.portHandle.load();
  SetTimeouts({0, 0, 0, 0, 0}); // would wait for ever
  keyboard->Send({7, 8, 9});
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    keyboard->HangUp();
  });
  double cpu = CpuMs();
  uint8_t buf[12];
  DWORD got = 0;
  auto start = Clock::now();
  // Bytes that came before the hang-up are delivered...
  EXPECT_TRUE(ReadFile(h, buf, 12, &got, nullptr));
  EXPECT_EQ(got, 3u);
  // ...and the next read fails once the far side is gone.
  EXPECT_FALSE(ReadFile(h, buf, 12, &got, nullptr));
  double ms = MsSince(start);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_READ_FAULT));
  closer.join();
  EXPECT_EQ(got, 0u);
  EXPECT_GE(ms, 290.0);
  EXPECT_LT(ms, 300.0 + kLateMs);
  EXPECT_LT(CpuMs() - cpu, 60.0) << "the wait must sleep, not spin";
  auto again = Clock::now();
  EXPECT_FALSE(ReadFile(h, buf, 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_READ_FAULT));
  DWORD put = 0;
  EXPECT_FALSE(WriteFile(h, buf, 12, &put, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
  EXPECT_LT(MsSince(again), kLateMs) << "all time-outs 0: a wait would never end";
}

TEST_F(SerialPort, ClosingTheHandleWakesABlockedReaderAndFreesThePort) {
  HANDLE h = OpenPort();
  SetTimeouts({0, 0, 0, 0, 0});
  // Exclusive: a second open in this process is refused.
  EXPECT_EQ(CreateFileW(u"COM3:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  std::atomic<bool> returned{false};
  BOOL ok = TRUE;
  DWORD error = 0;
  std::thread reader([&] {
    uint8_t buf[12];
    DWORD got = 0;
    ok = ReadFile(h, buf, 12, &got, nullptr);
    error = GetLastError();
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(returned.load());
  auto start = Clock::now();
  AppGlobals.portHandle.store(INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(h));
  reader.join();
  EXPECT_LT(MsSince(start), kLateMs) << "all time-outs 0: only the close ends the read";
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_READ_FAULT));
  // Reopening at once works (a reconnection), and the old handle stays dead.
  HANDLE again = OpenPort();
  EXPECT_NE(again, h);
  uint8_t b;
  DWORD got;
  EXPECT_FALSE(ReadFile(h, &b, 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  keyboard->Send({0x42});
  EXPECT_TRUE(ReadFile(again, &b, 1, &got, nullptr));
  EXPECT_EQ(b, 0x42);
}

// The wait between keys: WaitCommEvent ends at a byte (left to be read), at
// SetCommMask from another thread or made before the wait began (a wake is
// never lost), and at the handle's close; a wake pending never cuts a read
// short, whose time-outs keep their meaning.
TEST_F(SerialPort, WaitCommEventEndsAtAByteAWakeOrTheCloseAndLeavesReadsAlone) {
  HANDLE h = OpenPort();
  DWORD events = 99;
  EXPECT_FALSE(WaitCommEvent(h, &events, nullptr)); // no mask set yet
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  EXPECT_TRUE(WaitCommEvent(h, &events, nullptr)); // the wake made before the wait
  EXPECT_EQ(events, 0u);

  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    keyboard->Send({0x41});
  });
  EXPECT_TRUE(WaitCommEvent(h, &events, nullptr));
  writer.join();
  EXPECT_EQ(events, EV_RXCHAR);
  uint8_t b = 0;
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(h, &b, 1, &got, nullptr));
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(b, 0x41);

  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    DWORD e = 99;
    EXPECT_TRUE(WaitCommEvent(h, &e, nullptr));
    EXPECT_EQ(e, 0u);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_FALSE(returned.load()) << "the wait ended with nothing to end it";
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  waiter.join();

  // A wake pending: a read still waits out its time-out and succeeds.
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  double ms = 0;
  EXPECT_TRUE(TimedRead(1, &got, &ms));
  EXPECT_EQ(got, 0u);
  EXPECT_GE(ms, 208.0);
  EXPECT_TRUE(WaitCommEvent(h, &events, nullptr)); // the wake is still there
  EXPECT_EQ(events, 0u);

  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    AppGlobals.portHandle.store(INVALID_HANDLE_VALUE);
    CloseHandle(h);
  });
  EXPECT_FALSE(WaitCommEvent(h, &events, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  closer.join();
}

// The thread that reads the port is the one that types: before a read or
// WaitCommEvent waits, the injection backend sends what it holds back (a key
// press kept for its release), never while there is data to take at once.
std::atomic<int> gFlushes{0};
void CountFlush(void *) { gFlushes.fetch_add(1); }

TEST_F(SerialPort, AReadOrWaitAboutToBlockFirstSendsTheKeysTheBackendHoldsBack) {
  HANDLE h = OpenPort();
  const InjectOps *before = InjectGetBackend();
  InjectOps counting{"counting", nullptr, nullptr, nullptr, nullptr, nullptr, &CountFlush, nullptr};
  InjectSetBackend(&counting);
  gFlushes = 0;
  keyboard->Send({0x41});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  uint8_t b = 0;
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(h, &b, 1, &got, nullptr)); // the byte is there: no wait
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(gFlushes.load(), 0);
  EXPECT_TRUE(ReadFile(h, &b, 1, &got, nullptr)); // waits out its time-out
  EXPECT_EQ(got, 0u);
  EXPECT_GE(gFlushes.load(), 1);
  int afterRead = gFlushes.load();
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  DWORD events = 99;
  EXPECT_TRUE(WaitCommEvent(h, &events, nullptr)); // the wake made before the wait
  EXPECT_EQ(gFlushes.load(), afterRead + 1);
  InjectSetBackend(before);
}

// Bytes that reached the port while it was closed (keys typed before a
// connection, the tail of an earlier one) are still there when it opens,
// with whatever the keyboard sends at once; PurgeComm drops what is waiting
// and nothing that comes after it.
TEST_F(SerialPort, BytesReceivedWhileClosedStayUntilPurged) {
  // Another holder of the device keeps its line open, so the bytes wait in
  // its input queue as they would on a Bluetooth serial device.
  int holder = open(keyboard->slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  keyboard->Send({0xA5, 0x5A, 0x41, 0x42});
  int pending = 0;
  for (int i = 0; i < 500 && pending < 4; ++i) {
    usleep(2000);
    ioctl(holder, FIONREAD, &pending);
  }
  ASSERT_EQ(pending, 4);
  HANDLE h = OpenPort();
  int waiting = 0;
  ioctl(holder, FIONREAD, &waiting);
  EXPECT_EQ(waiting, 4) << "opening the port dropped input";
  EXPECT_TRUE(PurgeComm(h, PURGE_RXCLEAR));
  keyboard->Send({0x43});
  uint8_t buf[12] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(h, buf, 12, &got, nullptr));
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(buf[0], 0x43);
  EXPECT_EQ(CountTrace("serial: COM3: discarded 4 bytes of input"), 1);
  EXPECT_FALSE(PurgeComm(reinterpret_cast<HANDLE>(uintptr_t{0x7777}), PURGE_RXCLEAR));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  close(holder);
}

// The read calls this thread has made so far (/proc/thread-self/io).
long ReadCalls() {
  FILE *f = fopen("/proc/thread-self/io", "r");
  long n = -1;
  char line[128];
  while (f && fgets(line, sizeof line, f))
    if (sscanf(line, "syscr: %ld", &n) == 1)
      break;
  if (f)
    fclose(f);
  return n;
}

// The reader takes keys a byte at a time: a burst that waits on the device
// is taken in with a read or two, handed out in order, answered by
// WaitCommEvent at once while some is left, and dropped whole by PurgeComm.
TEST_F(SerialPort, ABurstReadAByteAtATimeCostsAFewReadsAndKeepsItsOrder) {
  int holder = open(keyboard->slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  HANDLE h = OpenPort();
  ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
  DWORD events = 99;
  EXPECT_TRUE(WaitCommEvent(h, &events, nullptr)); // the wake made before the wait
  Bytes burst;
  for (int i = 0; i < 300; ++i)
    burst.push_back(static_cast<uint8_t>(i * 7));
  keyboard->Send(burst);
  int pending = 0;
  for (int i = 0; i < 1000 && pending < 300; ++i) {
    usleep(2000);
    ioctl(holder, FIONREAD, &pending);
  }
  ASSERT_EQ(pending, 300);
  const long before = ReadCalls();
  ASSERT_GE(before, 0);
  for (int i = 0; i < 300; ++i) {
    EXPECT_TRUE(WaitCommEvent(h, &events, nullptr));
    EXPECT_EQ(events, EV_RXCHAR) << "byte " << i;
    uint8_t b = 0;
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(h, &b, 1, &got, nullptr));
    ASSERT_EQ(got, 1u) << "byte " << i;
    ASSERT_EQ(b, burst[i]) << "byte " << i;
  }
  EXPECT_LE(ReadCalls() - before, 4) << "one read per byte";

  // Taken in ahead and then purged: gone, and what comes after is read.
  keyboard->Send({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  uint8_t buf[12] = {};
  DWORD got = 0;
  pending = 0;
  for (int i = 0; i < 1000 && pending < 10; ++i) {
    usleep(2000);
    ioctl(holder, FIONREAD, &pending);
  }
  ASSERT_TRUE(ReadFile(h, buf, 1, &got, nullptr));
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(buf[0], 1);
  EXPECT_TRUE(PurgeComm(h, PURGE_RXCLEAR));
  keyboard->Send({0x43});
  ASSERT_TRUE(ReadFile(h, buf, 12, &got, nullptr));
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(buf[0], 0x43);
  close(holder);
}

TEST_F(SerialPort, MissingOrDanglingLinkIsAMissingPort) {
  std::string dangling = devices + "/COM4";
  ASSERT_EQ(symlink("/nonexistent/pts/77", dangling.c_str()), 0);
  EXPECT_EQ(CreateFileW(u"COM4:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A link to something that is not a serial device is refused.
  std::string plain = devices + "/COM5";
  ASSERT_EQ(symlink("/dev/null", plain.c_str()), 0);
  EXPECT_EQ(CreateFileW(u"COM5:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
}

HANDLE OpenCom3() {
  return CreateFileW(u"COM3:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Whatever a port delivers is typed into the user's session, so a link is
// used only where no other local user can have put it; a refused link reads
// as a missing port, with the reason in the trace.
class RefusedLink : public SerialPort {
protected:
  void ExpectRefused(const std::string &why) {
    traces.reset(); // this attempt's lines only
    traces = std::make_unique<testtrace::TraceLines>();
    HANDLE h = OpenCom3();
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE)
      CloseHandle(h);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    bool said = false;
    for (const std::string &t : traces->Lines())
      said |= t.find(why) != std::string::npos;
    EXPECT_TRUE(said) << "no trace saying \"" << why << "\"";
  }
  void ExpectOpens() {
    HANDLE h = OpenCom3();
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE)
      CloseHandle(h);
  }
};

TEST_F(RefusedLink, FolderThatOthersCanWriteTo) {
  ASSERT_EQ(chmod(devices.c_str(), 0777), 0);
  ExpectRefused("can be written by other users (mode 0777)");
  ASSERT_EQ(chmod(devices.c_str(), 0770), 0);
  ExpectRefused("can be written by other users (mode 0770)");
  // The user's own folder that only they can write to is fine, readable by
  // others or not.
  ASSERT_EQ(chmod(devices.c_str(), 0755), 0);
  ExpectOpens();
  ASSERT_EQ(chmod(devices.c_str(), 0700), 0);
  ExpectOpens();
}

TEST_F(RefusedLink, FolderLinkOrDeviceOfAnotherUser) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to give a folder, a link and a device to another user";
  const uid_t other = 65534;
  const std::string link = devices + "/COM3";
  ASSERT_EQ(chown(devices.c_str(), other, -1), 0);
  ExpectRefused("belongs to another user (uid 65534)");
  ASSERT_EQ(chown(devices.c_str(), 0, -1), 0);

  ASSERT_EQ(lchown(link.c_str(), other, -1), 0);
  ExpectRefused(link + " belongs to another user (uid 65534)");
  ASSERT_EQ(lchown(link.c_str(), 0, -1), 0);

  // The user's own link to another user's pseudo-terminal: a stale link
  // whose number went to someone else's terminal.
  ASSERT_EQ(chown(keyboard->slave().c_str(), other, -1), 0);
  ExpectRefused("leads to a device of another user (uid 65534)");
  ASSERT_EQ(chown(keyboard->slave().c_str(), 0, -1), 0);
  ExpectOpens();
}

} // namespace
} // namespace linktest
