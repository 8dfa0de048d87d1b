// Whole connections against vantrel-kbd on a pseudo-terminal: the packets on
// the wire, what the main window is told, the text typed, and every way a
// connection ends. Each scenario runs in a process of its own, on a virtual
// clock that moves on in the link's pauses and where a step says Advance:
// the keyboard keeps real time, so while the link waits for it no virtual
// time passes.
#include "common/messages.h"
#include "common/settings_store.h"
#include "common/ui_strings.h"
#include "tests/link/link_harness.h"

#include <gmock/gmock.h>

#include <algorithm>

namespace linktest {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// Real time allowed for a connection: the pauses take none, the keyboard
// answers at once.
constexpr int kConnectMs = 15000;

std::string Ui(int n) { return Narrow(UiString(n)); }

int Count(const std::vector<std::string> &v, const std::string &what) {
  return static_cast<int>(std::count(v.begin(), v.end(), what));
}

// Connects to a configured COM3: and waits until the link says connected.
// The keyboard beats first soon after its sync pattern, so a connection
// does not wait a whole heartbeat interval of real time; not in the same
// read as the pattern, though, whose block ends with it.
void Connect(LinkHarness &h, const std::vector<std::string> &kbdArgs, int nth = 1) {
  if (!kbdArgs.empty() || nth == 1) {
    std::vector<std::string> args = {"--first-heartbeat", "250"};
    args.insert(args.end(), kbdArgs.begin(), kbdArgs.end());
    ASSERT_TRUE(h.StartKeyboard("COM3", args));
  }
  h.Toggle();
  ASSERT_TRUE(h.WaitForPhase(1, 2, kConnectMs, nth)) << "no connection";
}

// Waits for the one DISCONNECT packet on the wire.
bool WaitForDisconnectPacket(LinkHarness &h) {
  return h.WaitFor([&] { return Count(Describe(h.Packets()), "DISCONNECT") == 1; }, 3000);
}

// Waits for a notice with this message to reach the main window.
bool WaitForNote(LinkHarness &h, UINT msg, int timeoutMs) {
  return h.WaitFor([&] {
    for (const Note &n : h.Notes())
      if (n.msg == msg)
        return true;
    return false;
  }, timeoutMs);
}

int CountNotes(LinkHarness &h, UINT msg) {
  int n = 0;
  for (const Note &note : h.Notes())
    n += note.msg == msg;
  return n;
}

// A configured COM3: and the emulator's keyboard known already (no
// calibration question).
void Configure(int32_t connectionTimeout = 0) {
  SettingsStore::WriteString(u"COMPORT", u"COM3:");
  SettingsStore::WriteDword(u"Connection Timeout", connectionTimeout);
  SettingsStore::WriteDword(u"Serial No", 0x00A5F301);
}

// Runs a scenario in a process of its own, on a fresh root with COM3:
// configured and the link started.
void RunWithLink(const std::function<void(LinkHarness &)> &scenario,
                 int32_t connectionTimeout = 0) {
  RunIsolated([&] {
    TempRoot root;
    UseFreshRoot(root);
    Configure(connectionTimeout);
    LinkHarness h(root);
    h.StartLink();
    scenario(h);
  });
}

// The same with a keyboard not seen before: the calibration question is
// answered yes, and the harness stands in for the calibration dialog.
void RunOfferingCalibration(const std::function<void(LinkHarness &)> &scenario) {
  RunIsolated([&] {
    TempRoot root;
    UseFreshRoot(root);
    Configure();
    SettingsStore::WriteDword(u"Serial No", 5); // another keyboard was here before
    LinkHarness h(root);
    h.AnswerBoxes({IDYES});
    h.StartLink();
    AppGlobals.calibrationDialog.store(h.calibrationDialog);
    scenario(h);
  });
}

TEST(Connection, HandshakeTypingPollAndDisconnect) {
  RunWithLink([](LinkHarness &h) {
    // H and W come with a shift byte each.
    const std::string text = "Hello, World 42. keys keep coming while the poll waits.";
    const int keyBytes = static_cast<int>(text.size()) + 2;
    Connect(h, {"--heartbeat", "400", "--type", text, "--key-interval", "15"});

    // The poll asks for system data 10 s after the handshake. Virtual time
    // stands still while bytes arrive, so the ten seconds pass in four
    // steps, each followed by a key that keeps the link alive.
    ASSERT_TRUE(h.WaitForLinkState(LINK_TYPING, 2000)); // the poll has been asked for
    EXPECT_EQ(h.CountTraces("Request System data"), 1); // the handshake's
    for (int step : {2500, 2500, 2500, 2499}) {
      int keys = h.KeysRead();
      h.Advance(step);
      ASSERT_TRUE(h.WaitFor([&] { return h.KeysRead() > keys; }, 5000)) << "typing stopped";
    }
    EXPECT_EQ(h.CountTraces("Request System data"), 1) << "the poll came early";
    h.Advance(1);
    EXPECT_EQ(h.CountTraces("Request System data"), 2) << "no poll after 10 s";
    ASSERT_TRUE(h.WaitFor([&] { return h.KeysRead() == keyBytes; }, 10000)) << h.KeysRead();
    ASSERT_TRUE(h.WaitFor([&] { return Count(Describe(h.Packets()), "REQUEST_SYSTEM_DATA") == 2; },
                          3000));
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 0, 5000, 2));
    ASSERT_TRUE(WaitForDisconnectPacket(h));

    std::vector<std::string> d = Describe(h.Packets());
    std::vector<std::string> head(d.begin(), d.begin() + std::min<size_t>(d.size(), 16));
    EXPECT_THAT(head, ElementsAre("SET_PARAMETER 14=23", "HANDSHAKE_REQUEST", "REQUEST_SYSTEM_DATA",
                                  "SET_PARAMETER 13=184", "SET_PARAMETER 0=0", "SET_PARAMETER 1=1",
                                  "SET_PARAMETER 2=0", "SET_PARAMETER 3=0", "SET_PARAMETER 4=1",
                                  "SET_PARAMETER 5=0", ::testing::StartsWith("SET_PARAMETER 6="),
                                  ::testing::StartsWith("SET_PARAMETER 7="),
                                  ::testing::StartsWith("SET_PARAMETER 8="),
                                  ::testing::StartsWith("SET_PARAMETER 9="),
                                  ::testing::StartsWith("SET_PARAMETER 10="), "TYPING_MODE"));
    EXPECT_EQ(d.back(), "DISCONNECT");
    EXPECT_EQ(Count(d, "REQUEST_SYSTEM_DATA"), 2);

    EXPECT_EQ(static_cast<uint32_t>(SettingsStore::ReadDword(u"Serial No", 0)), 0x00A5F301u);
    EXPECT_EQ(SettingsStore::ReadDword(u"Build No", 0), 9100);
    EXPECT_EQ(SettingsStore::ReadDword(u"Feature Set", 0), 1);
    EXPECT_EQ(SettingsStore::ReadDword(u"Config Table", 0), 1);

    // The link was reported: disabled, enabled, connected, enabled again.
    std::vector<Note> phases = h.Phases();
    ASSERT_EQ(phases.size(), 4u);
    EXPECT_EQ(phases[0].wParam * 10 + phases[0].lParam, 0u);
    EXPECT_EQ(phases[1].wParam * 10 + phases[1].lParam, 10u);
    EXPECT_EQ(phases[2].wParam * 10 + phases[2].lParam, 12u);
    EXPECT_EQ(phases[3].wParam * 10 + phases[3].lParam, 10u);
    // Three status lines; the main window copies the shared text when it
    // gets the notice, so an early notice may already show a later text.
    std::vector<std::string> texts;
    for (const Note &n : h.Notes())
      if (n.msg == WM_STATUS_TEXT_CHANGED)
        texts.push_back(n.text);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts.back(), Ui(23));
    // Both status frames carry the same charge: the window hears of the
    // first only.
    const std::vector<Note> notes = h.Notes();
    EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                            [](const Note &n) { return n.msg == WM_BATTERY_REPORTED; }),
              1);
    EXPECT_THAT(h.Traces(), Contains("Opening COM3:"));

    // Everything typed reached the injector, once and in order.
    keytest::UsHostModel host;
    EXPECT_EQ(host.type(h.injector.calls), std::u32string(text.begin(), text.end()));
    EXPECT_EQ(AppGlobals.linkState.load(), LINK_IDLE);
    EXPECT_EQ(AppGlobals.portHandle.load(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(AppGlobals.suspendKiller, nullptr);
    EXPECT_TRUE(h.Boxes().empty());
  });
}

TEST(Connection, HeartbeatLossClosesTheLinkAfterTenSeconds) {
  RunWithLink([](LinkHarness &h) {
    Connect(h, {"--heartbeat", "300", "--keys", "65"});
    ASSERT_TRUE(h.WaitForLinkState(LINK_TYPING, 2000));
    // A key read while typing: from here on no virtual time passes until
    // the test lets it (the handshake's pauses lie before).
    ASSERT_TRUE(h.WaitFor([&] { return h.KeysRead() == 1; }, 5000));
    h.PauseKeyboard(true); // the keyboard falls silent, the port stays open
    // The heartbeats already on their way are read at this same virtual
    // instant, however long the reader takes for them.
    usleep(300 * 1000);
    double silentAt = h.Now();
    h.Advance(9999);
    EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING) << "closed before ten silent seconds";
    h.Advance(1);
    EXPECT_NE(AppGlobals.linkState.load(), LINK_TYPING) << "open after ten silent seconds";
    ASSERT_TRUE(h.WaitForPhase(1, 0, 5000, 2));
    EXPECT_EQ(h.Phases().back().ms - silentAt, 10000);
    EXPECT_THAT(h.Traces(), Contains("Heartbeat timer expired"));
    h.PauseKeyboard(false);
    ASSERT_TRUE(WaitForDisconnectPacket(h));
  });
}

TEST(Connection, IdleTimeoutClosesATypingLink) {
  RunWithLink([](LinkHarness &h) {
    // The keys are far apart in real time, so that the first one is read
    // before time moves on and the second one after.
    Connect(h, {"--heartbeat", "300", "--keys", "65,66", "--key-interval", "1000"});
    ASSERT_TRUE(h.WaitFor([&] { return h.KeysRead() == 1; }, 5000));
    h.Advance(1000);
    ASSERT_TRUE(h.WaitFor([&] { return h.KeysRead() == 2; }, 5000));
    // The second key restarted the 1.5 s time-out.
    h.Advance(1499);
    EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING) << "the key did not restart the time-out";
    h.Advance(1);
    EXPECT_NE(AppGlobals.linkState.load(), LINK_TYPING) << "the time-out did not close the link";
    ASSERT_TRUE(h.WaitForPhase(1, 0, 5000, 2));
    EXPECT_THAT(h.Traces(), Not(Contains("Heartbeat timer expired")));
  }, 1500);
}

// Status frames answering a later system-data request (the poll's packet,
// sent here at once rather than after 10 s).
struct StatusCase {
  int code;
  bool closes;
  int statusUi;           // status text shown, -1 for none
  const char *boxText;    // message box, nullptr for none
};

void PrintTo(const StatusCase &c, std::ostream *os) { *os << "status code " << c.code; }

class StatusWhileTyping : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusWhileTyping, ActsOnTheCode) {
  StatusCase c = GetParam();
  RunWithLink([c](LinkHarness &h) {
    Connect(h, {"--heartbeat", "300", "--status-code", std::to_string(c.code), "--status-after", "2"});
    ASSERT_TRUE(h.WaitForLinkState(LINK_TYPING, 2000));
    h.Post(WM_TIMER, kStatusPollTimer); // what the poll timer does
    if (c.closes) {
      ASSERT_TRUE(h.WaitForPhase(1, 0, 8000, 2));
      ASSERT_TRUE(WaitForDisconnectPacket(h));
    } else {
      ASSERT_TRUE(h.WaitFor([&] { return !h.Boxes().empty(); }, 5000));
      usleep(300 * 1000); // a moment for a wrong disconnection to show
      EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING);
      EXPECT_EQ(Count(Describe(h.Packets()), "DISCONNECT"), 0);
    }
    if (c.statusUi >= 0) {
      std::vector<Note> notes = h.Notes();
      bool shown = false;
      for (const Note &n : notes)
        shown |= n.msg == WM_STATUS_TEXT_CHANGED && n.text == Ui(c.statusUi);
      EXPECT_TRUE(shown) << "status text " << c.statusUi << " not shown";
    }
    std::vector<Box> boxes = h.Boxes();
    if (c.code == 2) {
      // The notice comes after the disconnection and its 2 s pause.
      ASSERT_TRUE(h.WaitFor([&] { return !h.Boxes().empty(); }, 5000));
      boxes = h.Boxes();
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, Ui(37));
      EXPECT_EQ(boxes[0].caption, Ui(9));
      EXPECT_EQ(boxes[0].flags, MB_OK);
      EXPECT_EQ(boxes[0].owner, AppGlobals.mainWindow);
      EXPECT_EQ(boxes[0].ms - h.Phases().back().ms, 2000);
    } else if (c.boxText) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, c.boxText);
      EXPECT_EQ(boxes[0].caption, "Message");
      EXPECT_EQ(boxes[0].flags, MB_OK);
    } else {
      usleep(300 * 1000); // the disconnection's pause takes no real time
      EXPECT_TRUE(h.Boxes().empty());
    }
    EXPECT_EQ(AppGlobals.disconnectNoticePending.load(), 0);
  });
}

INSTANTIATE_TEST_SUITE_P(Codes, StatusWhileTyping,
                         ::testing::Values(StatusCase{1, true, -1, "App requested disconnect"},
                                           StatusCase{2, true, 26, nullptr},
                                           StatusCase{4, false, -1, "status 0x04 You should not see this"},
                                           StatusCase{8, true, 27, nullptr}),
                         [](const auto &info) { return "Code" + std::to_string(info.param.code); });

TEST(Connection, DisconnectStatusDuringTheHandshakeEndsTheAttempt) {
  RunWithLink([](LinkHarness &h) {
    ASSERT_TRUE(h.StartKeyboard("COM3", {"--heartbeat", "300", "--status-code", "2"}));
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 0, kConnectMs, 2));
    ASSERT_TRUE(h.WaitFor([&] { return h.Boxes().size() == 1; }, 5000));
    EXPECT_EQ(h.Boxes()[0].text, Ui(37));
    // The keyboard logs what it receives in its own time: on a loaded
    // machine the box can come first.
    ASSERT_TRUE(WaitForDisconnectPacket(h));
    std::vector<std::string> d = Describe(h.Packets());
    // No settings and no typing mode after the status frame: straight to the
    // disconnection.
    EXPECT_THAT(d, ElementsAre("SET_PARAMETER 14=23", "HANDSHAKE_REQUEST", "REQUEST_SYSTEM_DATA",
                               "SET_PARAMETER 13=184", "DISCONNECT"));
    for (const Note &n : h.Phases())
      EXPECT_NE(n.lParam, 2) << "reported as connected";
    EXPECT_EQ(AppGlobals.linkState.load(), LINK_IDLE);
    // The attempt is over: a later connect request must not be taken for
    // one still under way.
    EXPECT_EQ(AppGlobals.connectRequested.load(), 0);
  });
}

TEST(Connection, NewKeyboardIsOfferedCalibrationThroughThePrivateMessages) {
  RunOfferingCalibration([](LinkHarness &h) {
    Connect(h, {"--heartbeat", "300", "--calibration-step", "150"});
    ASSERT_TRUE(h.WaitFor([&] { return !h.Boxes().empty(); }, 3000));
    Box question = h.Boxes()[0];
    EXPECT_EQ(question.text, Ui(8));
    EXPECT_EQ(question.caption, Ui(9));
    EXPECT_EQ(question.flags, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(question.yesVerb, Ui(kUiVerbCalibrate));
    EXPECT_EQ(question.noVerb, Ui(kUiVerbNotNow));
    ASSERT_TRUE(h.WaitForLinkState(LINK_CALIBRATING, 3000));
    ASSERT_TRUE(WaitForNote(h, WM_CALIBRATE, 3000));

    // What the calibration dialog does.
    h.Post(WM_BEGIN_CALIBRATION);
    ASSERT_TRUE(WaitForNote(h, WM_CALIBRATION_RESULT, 5000));
    int steps = 0;
    for (const Note &n : h.Notes())
      steps += n.msg == WM_CALIBRATION_STEP;
    EXPECT_EQ(steps, 3);
    EXPECT_EQ(SettingsStore::ReadDword(u"originX", -1), 12);
    EXPECT_EQ(SettingsStore::ReadDword(u"scaleYLow", -1), 56);
    h.Send(WM_END_CALIBRATION);
    ASSERT_TRUE(h.WaitForLinkState(LINK_TYPING, 5000));
    // Both ends of the calibration end with typing mode.
    ASSERT_TRUE(h.WaitFor([&] { return Count(Describe(h.Packets()), "TYPING_MODE") >= 3; }, 5000));
    std::vector<std::string> d = Describe(h.Packets());
    int on = Find(d, "SET_PARAMETER 14=22");
    ASSERT_GE(on, 0);
    EXPECT_EQ(Find(d, "CALIBRATION_MODE", on), on + 1);
    // The dialog's end and the reader thread's leaving calibration both take
    // the keyboard out of it; their packets may interleave.
    std::vector<std::string> tail(d.begin() + on + 2, d.end());
    EXPECT_THAT(tail, Contains("SET_PARAMETER 14=23"));
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(tail.back(), "TYPING_MODE");
    for (const std::string &what : tail)
      EXPECT_TRUE(what == "SET_PARAMETER 14=23" || what == "TYPING_MODE") << what;
    EXPECT_EQ(AppGlobals.serialChanged.load(), 0);

    // The heartbeat keeps the link after calibration.
    h.Advance(5000);
    usleep(300 * 1000);
    EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING);
  });
}

// The offer for a new keyboard, with the question left up as long as the
// person takes: a fresh root, a keyboard not seen before, an idle time-out.
void RunWithHeldQuestion(const std::function<void(LinkHarness &)> &scenario) {
  RunIsolated([&] {
    TempRoot root;
    UseFreshRoot(root);
    Configure(5000);
    SettingsStore::WriteDword(u"Serial No", 5);
    LinkHarness h(root);
    h.HoldBoxes();
    h.StartLink();
    AppGlobals.calibrationDialog.store(h.calibrationDialog);
    scenario(h);
  });
}

TEST(Connection, TheLinkOutlivesAQuestionThatTakesLong) {
  RunWithHeldQuestion([](LinkHarness &h) {
    Connect(h, {"--heartbeat", "300"});
    ASSERT_TRUE(h.WaitFor([&] { return h.BoxesHeld() == 1; }, 3000));
    EXPECT_EQ(h.Boxes()[0].text, Ui(8));
    // Far beyond the heartbeat period and the idle time-out.
    h.Advance(25000);
    EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING) << "closed while the question was up";
    h.AnswerHeldBox(IDYES);
    ASSERT_TRUE(h.WaitForLinkState(LINK_CALIBRATING, 3000));
    ASSERT_TRUE(WaitForNote(h, WM_CALIBRATE, 3000));
    EXPECT_EQ(AppGlobals.serialChanged.load(), 0);
    EXPECT_EQ(h.Phases().size(), 3u) << "the link was closed and opened again";
  });
}

TEST(Connection, AnOfferTheLinkDidNotOutliveComesBackAtTheNextConnection) {
  RunWithHeldQuestion([](LinkHarness &h) {
    Connect(h, {"--heartbeat", "300"});
    ASSERT_TRUE(h.WaitFor([&] { return h.BoxesHeld() == 1; }, 3000));
    h.Toggle(); // the person disconnects before answering
    ASSERT_TRUE(h.WaitForLinkState(LINK_DISCONNECTING, 3000));
    h.AnswerHeldBox(IDYES);
    ASSERT_TRUE(h.WaitForPhase(1, 0, 6000, 2));
    EXPECT_EQ(AppGlobals.serialChanged.load(), 1);
    EXPECT_EQ(CountNotes(h, WM_CALIBRATE), 0);

    h.StopKeyboard();
    Connect(h, {"--heartbeat", "300"}, 2); // the same keyboard again
    ASSERT_TRUE(h.WaitFor([&] { return h.BoxesHeld() == 1; }, 3000)) << "not offered again";
    ASSERT_EQ(h.Boxes().size(), 2u);
    EXPECT_EQ(h.Boxes()[1].text, Ui(8));
    h.AnswerHeldBox(IDNO); // declined: not offered a third time
    ASSERT_TRUE(h.WaitFor([&] { return AppGlobals.serialChanged.load() == 0; }, 3000));
    EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING);
  });
}

TEST(Connection, DisconnectDuringCalibrationEndsTheConnection) {
  RunOfferingCalibration([](LinkHarness &h) {
    Connect(h, {"--heartbeat", "300", "--calibration", "fail", "--calibration-step", "3000"});
    ASSERT_TRUE(h.WaitForLinkState(LINK_CALIBRATING, 3000));
    h.Post(WM_BEGIN_CALIBRATION);
    ASSERT_TRUE(h.WaitFor([&] { return Count(Describe(h.Packets()), "CALIBRATION_MODE") == 1; }, 5000));
    h.Toggle(); // the user disconnects while the keyboard is calibrating
    ASSERT_TRUE(h.WaitForPhase(1, 0, 6000, 2));
    ASSERT_TRUE(WaitForDisconnectPacket(h));
    std::vector<std::string> d = Describe(h.Packets());
    int mode = Find(d, "CALIBRATION_MODE");
    ASSERT_GE(mode, 0);
    // The keyboard is taken out of calibration, then disconnected.
    std::vector<std::string> tail(d.begin() + mode + 1, d.end());
    EXPECT_THAT(tail, ElementsAre("SET_PARAMETER 14=23", "TYPING_MODE", "DISCONNECT"));
    EXPECT_EQ(AppGlobals.linkState.load(), LINK_IDLE);
  });
}

TEST(Connection, FailedCalibrationReturnsToTyping) {
  RunOfferingCalibration([](LinkHarness &h) {
    // Heartbeats far apart: a heartbeat in the same block as the failure
    // marker would hide it (the block's last marker is its result).
    Connect(h, {"--heartbeat", "4000", "--calibration", "fail", "--calibration-step", "150"});
    ASSERT_TRUE(h.WaitForLinkState(LINK_CALIBRATING, 3000));
    h.Post(WM_BEGIN_CALIBRATION);
    ASSERT_TRUE(WaitForNote(h, WM_CALIBRATION_FAILED, 5000));
    ASSERT_TRUE(h.WaitForLinkState(LINK_TYPING, 3000));
    // Both the failure and the end of the calibration loop end with typing mode.
    ASSERT_TRUE(h.WaitFor([&] { return Count(Describe(h.Packets()), "TYPING_MODE") >= 3; }, 5000));
    EXPECT_EQ(AppGlobals.linkState.load(), LINK_TYPING);
    std::vector<std::string> d = Describe(h.Packets());
    int mode = Find(d, "CALIBRATION_MODE");
    ASSERT_GE(mode, 0);
    std::vector<std::string> tail(d.begin() + mode + 1, d.end());
    EXPECT_THAT(tail, ElementsAre("SET_PARAMETER 14=23", "TYPING_MODE", "SET_PARAMETER 14=23",
                                  "TYPING_MODE"));
  });
}

TEST(Connection, SecondConnectionNeedsNoSyncPattern) {
  RunWithLink([](LinkHarness &h) {
    Connect(h, {"--heartbeat", "300"});
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 0, 6000, 2));
    h.StopKeyboard();
    // This keyboard sends heartbeats only.
    ASSERT_TRUE(h.StartKeyboard("COM3", {"--heartbeat", "300", "--no-sync"}));
    h.Toggle();
    ASSERT_TRUE(h.WaitForPhase(1, 2, kConnectMs, 2)) << "the first heartbeat did not start the handshake";
    std::vector<std::string> d = Describe(h.Packets());
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d.front(), "HANDSHAKE_REQUEST"); // no calibration-off: no sync byte this time
  });
}

TEST(Connection, KeyboardThatVanishesWhileTypingFreesThePort) {
  RunWithLink([](LinkHarness &h) {
    Connect(h, {"--heartbeat", "300", "--type", "the quick brown fox jumps over the lazy dog",
                "--key-interval", "150"});
    ASSERT_TRUE(h.WaitFor([&] { return h.KeyboardEvents("sent").size() > 8; }, 5000));
    h.StopKeyboard(SIGKILL); // the far side of the pseudo-terminal is gone
    double goneAt = h.Now();
    // No virtual time passes: the lost port closed the link, not a timer.
    ASSERT_TRUE(h.WaitForPhase(1, 0, 12000, 2));
    EXPECT_LT(h.Phases().back().ms - goneAt, kHeartbeatPeriodMs);
    EXPECT_EQ(AppGlobals.portHandle.load(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(AppGlobals.suspendKiller, nullptr);

    Connect(h, {"--heartbeat", "300"}, 2);
    EXPECT_TRUE(h.WaitForLinkState(LINK_TYPING, 3000));
  });
}

} // namespace
} // namespace linktest
