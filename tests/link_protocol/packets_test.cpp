// Command packets on the wire: the fixed images, set-parameter packets, the
// paced settings push with its sensitivity-dependent parameters (its pauses
// on a virtual clock), and two threads sending at once.
#include "tests/link_protocol/link_test_support.h"

#include "common/settings_store.h"
#include "link/packets.h"
#include "platform/clock.h"

#include <thread>

namespace linktest {
namespace {

Bytes Image(const CommandPacket p) { return Bytes(p, p + kPacketSize); }

TEST(Packets, FixedImagesMatchTheProtocolAndCheckSumToZero) {
  struct {
    const uint8_t *packet;
    const char *bytes;
  } fixed[] = {
      {kHandshakeRequestPacket, "00 00 00 00 05 00 00 00 00 00 00 05"},
      {kRequestSystemDataPacket, "00 00 00 00 0A 00 00 00 00 00 00 0A"},
      {kDisconnectPacket, "00 00 00 00 0B 00 00 00 00 00 00 0B"},
      {kCalibrationOffPacket, "00 00 00 00 01 0E 17 00 00 00 00 18"},
      {kCalibrationOnPacket, "00 00 00 00 01 0E 16 00 00 00 00 19"},
      {kCalibrationModePacket, "00 00 00 00 02 00 00 00 00 00 00 02"},
      {kTypingModePacket, "00 00 00 00 03 00 00 00 00 00 00 03"},
  };
  for (auto &f : fixed) {
    EXPECT_EQ(Hex(Image(f.packet)), f.bytes);
    uint8_t sum = 0;
    for (size_t i = 0; i < kPacketSize; ++i)
      sum ^= f.packet[i];
    EXPECT_EQ(sum, 0) << f.bytes;
  }
}

TEST(Packets, SetParameterCarriesTheLowByteAndClearsTheBuffer) {
  CommandPacket p;
  memset(p, 0xEE, sizeof p); // a used buffer: every byte must be rewritten
  BuildSetParameter(p, PARAM_SENSITIVITY, 5);
  EXPECT_EQ(Hex(Image(p)), "00 00 00 00 01 06 05 00 00 00 00 02");
  BuildSetParameter(p, PARAM_SENSITIVITY, 300); // sent as 44
  EXPECT_EQ(Hex(Image(p)), "00 00 00 00 01 06 2C 00 00 00 00 2B");
  BuildSetParameter(p, PARAM_REFERENCE, -1);
  EXPECT_EQ(Hex(Image(p)), "00 00 00 00 01 0D FF 00 00 00 00 F3");
}

// Splits the wire into packets with their arrival times.
struct Arrival {
  Bytes packet;
  double ms;
};

class PacketsOnWire : public LinkTest {
protected:
  // Collects packets from the fake keyboard's side until `count` arrived.
  std::vector<Arrival> Collect(size_t count, int timeoutMs) {
    std::vector<Arrival> out;
    Bytes pending;
    auto start = std::chrono::steady_clock::now();
    while (out.size() < count && MsSince(start) < timeoutMs) {
      Bytes got = keyboard->Received(1, 50);
      double at = MsSince(start);
      pending.insert(pending.end(), got.begin(), got.end());
      while (pending.size() >= kPacketSize) {
        out.push_back({Bytes(pending.begin(), pending.begin() + kPacketSize), at});
        pending.erase(pending.begin(), pending.begin() + kPacketSize);
      }
    }
    EXPECT_TRUE(pending.empty()) << "a partial packet on the wire";
    return out;
  }

  void SetChoices() {
    AppGlobals.SensitivityChoices[0].value = 40;
    AppGlobals.SensitivityChoices[1].value = 200;
    AppGlobals.RepeatRateChoices[0].value = 30;
    AppGlobals.RepeatDelayChoices[0].value = 60;
  }
};

TEST_F(PacketsOnWire, SettingsPushSendsElevenParametersInOrderPaced) {
  SetChoices();
  OpenPort();
  SettingsStore::WriteDword(u"originX", 3);
  SettingsStore::WriteDword(u"scaleXHigh", 0x102); // low 8 bits only
  SettingsStore::WriteDword(u"SensitivityValue", 200); // entry 1, above 127
  SettingsStore::WriteDword(u"KeyRepeatRateValue", 7);
  SettingsStore::WriteDword(u"KeyRepeatDelayValue", 9);
  // The push's pauses last until the test lets their time pass: after each
  // parameter it must be asleep for 200 ms, with that one parameter on the
  // wire.
  VirtualClockScope clock(VirtualClock::Manual);
  std::thread push([] { PushSettings(); });
  std::vector<Arrival> got;
  for (int id = 0; id < 11; ++id) {
    // A sleeper that is still due now is the last pause on its way out.
    auto pausing = [](DWORD *wake) {
      return NextSleeperWake(wake) && static_cast<int32_t>(*wake - GetTickCount()) > 0;
    };
    auto start = std::chrono::steady_clock::now();
    DWORD wake = 0;
    while (!pausing(&wake) && MsSince(start) < 5000)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(pausing(&wake)) << "no pause after parameter " << id;
    EXPECT_EQ(wake - GetTickCount(), 200u) << "pause after parameter " << id;
    std::vector<Arrival> now = Collect(1, 2000);
    ASSERT_EQ(now.size(), 1u) << "parameters on the wire during the pause after " << id;
    got.push_back(now[0]);
    AdvanceVirtualClock(200);
  }
  push.join();
  EXPECT_TRUE(keyboard->Received(0, 20).empty());
  // id: value  (scale defaults 1, others 0; delay before rate by id)
  const int want[11] = {3, 2, 0, 0, 1, 0, 200, 9, 7, 22, 24};
  for (int id = 0; id < 11; ++id) {
    CommandPacket expected;
    BuildSetParameter(expected, static_cast<uint8_t>(id), want[id]);
    EXPECT_EQ(Hex(got[id].packet), Hex(Image(expected))) << "parameter " << id;
  }
}

TEST_F(PacketsOnWire, SensitivitySequenceComparesLikeThePush) {
  SetChoices();
  OpenPort();
  VirtualClockScope clock(VirtualClock::Auto); // the pauses take no time
  // Not entry 1: 48 and 50.
  SettingsStore::WriteDword(u"SensitivityValue", 40);
  SendSensitivitySequence();
  // Entry 1 with a value of 128 or more: compared unsigned, 22 and 24.
  SettingsStore::WriteDword(u"SensitivityValue", 200);
  SendSensitivitySequence();
  // 300 is sent and compared as 44.
  AppGlobals.SensitivityChoices[1].value = 44;
  SettingsStore::WriteDword(u"SensitivityValue", 300);
  SendSensitivitySequence();
  std::vector<Arrival> got = Collect(9, 2000);
  ASSERT_EQ(got.size(), 9u);
  std::string ids;
  for (auto &a : got)
    ids += std::to_string(a.packet[5]) + "=" + std::to_string(a.packet[6]) + " ";
  EXPECT_EQ(ids, "6=40 9=48 10=50 6=200 9=22 10=24 6=44 9=22 10=24 ");
}

// A disconnection that overtakes the reader's entry into calibration still
// takes the keyboard out of calibration mode, once; after a calibration
// that ended as usual it adds nothing.
TEST_F(PacketsOnWire, ADisconnectionLeavesACalibrationModeItOvertook) {
  OpenPort();
  VirtualClockScope clock(VirtualClock::Auto); // the pauses take no time
  SendBeginCalibration();
  LeaveCalibrationBeforeDisconnect();
  LeaveCalibrationBeforeDisconnect(); // nothing more
  SendBeginCalibration();
  SendCalibrationFailed();
  LeaveCalibrationBeforeDisconnect(); // already left
  std::vector<Arrival> got = Collect(8, 2000);
  ASSERT_EQ(got.size(), 8u);
  std::string kinds;
  for (auto &a : got)
    kinds += Hex(a.packet).substr(12, 8) + ", ";
  // On, mode; off, typing; on, mode; off, typing.
  EXPECT_EQ(kinds, "01 0E 16, 02 00 00, 01 0E 17, 03 00 00, 01 0E 16, 02 00 00, 01 0E 17, 03 00 00, ");
  EXPECT_TRUE(keyboard->Received(1, 200).empty()) << "a packet after the last expected one";
}

TEST_F(PacketsOnWire, TwoThreadsSendingAtOnceNeverMixPackets) {
  OpenPort();
  constexpr int kEach = 3000;
  auto sender = [](uint8_t id) {
    for (int i = 0; i < kEach; ++i) {
      CommandPacket p;
      BuildSetParameter(p, id, i);
      SendPacket(p);
    }
  };
  std::thread a(sender, 1), b(sender, 2);
  std::vector<Arrival> got = Collect(2 * kEach, 20000);
  a.join();
  b.join();
  ASSERT_EQ(got.size(), 2u * kEach);
  int next[3] = {0, 0, 0};
  for (auto &arrival : got) {
    const Bytes &p = arrival.packet;
    uint8_t sum = 0;
    for (uint8_t v : p)
      sum ^= v;
    ASSERT_EQ(sum, 0) << Hex(p);
    ASSERT_TRUE(p[5] == 1 || p[5] == 2) << Hex(p);
    EXPECT_EQ(p[6], static_cast<uint8_t>(next[p[5]]++)) << "order of sender " << int(p[5]);
  }
}

TEST_F(PacketsOnWire, OnlyTheSystemDataRequestIsTracedAndAClosedPortSendsNothing) {
  OpenPort();
  for (const uint8_t *p : {kHandshakeRequestPacket, kRequestSystemDataPacket, kDisconnectPacket,
                           kCalibrationOffPacket, kCalibrationOnPacket, kCalibrationModePacket,
                           kTypingModePacket})
    EXPECT_EQ(SendPacket(p), kPacketSize);
  EXPECT_EQ(CountTrace("Request System data "), 1);
  ClosePort();
  EXPECT_EQ(SendPacket(kTypingModePacket), 0u);
}

} // namespace
} // namespace linktest
