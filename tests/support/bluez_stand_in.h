// The BlueZ stand-in on a private system bus (tests/support/bluez_stand_in.py
// on python3-dbusmock): started by a test, torn down when the object goes.
// While it runs, DBUS_SYSTEM_BUS_ADDRESS names its bus and VANTREL_BLUETOOTH
// is unset, so the program's Bluetooth keys come from it; both are put back
// afterwards.
#pragma once

#include "tests/support/private_bus.h"

#include <string>

namespace testbus {

class BluezStandIn {
public:
  // Starts the bus and the stand-in with one adapter, hci0. Ready() tells
  // whether that worked (python3-dbusmock or dbus-daemon may be missing).
  BluezStandIn();
  ~BluezStandIn();
  BluezStandIn(const BluezStandIn &) = delete;
  BluezStandIn &operator=(const BluezStandIn &) = delete;

  bool Ready() const { return bus_ != nullptr && ready_; }
  // Why not Ready, for GTEST_SKIP.
  const std::string &Problem() const { return problem_; }
  // The private bus's address (for other stand-ins on the same bus).
  const std::string &Address() const { return daemon_.address; }

  // address as BlueZ writes it, "02:A5:F3:00:00:01". True when done.
  bool AddPairedDevice(const std::string &address, const std::string &alias, bool serial);
  // Whether BlueZ still lists the device.
  bool HasDevice(const std::string &address);
  bool SetKeyboardSocket(const std::string &address, const std::string &path);
  bool SetReachable(const std::string &address, bool reachable);
  bool DropLink(const std::string &address);
  bool HoldSerialProfile();
  // Gives a property of the device's Device1 a value of the type `type`
  // (a D-Bus signature), the value following as sd_bus_message_append
  // takes it: ("Address", "i", 42) makes the address a number.
  bool SetDeviceProperty(const std::string &address, const char *name, const char *type, ...);
  // ConnectProfile for the device waits, its stream not handed over, from
  // now until ReleaseConnect. ConnectPending: whether such a call waits now.
  bool HoldConnect(const std::string &address);
  bool ConnectPending(const std::string &address);
  bool ReleaseConnect(const std::string &address);
  // The next stream handed over for the device is a pipe, not a socket.
  bool HandOverPipe(const std::string &address);
  // The bus name of the client that registered the serial port profile, and
  // its object path; false when nobody has.
  bool SerialProfileOwner(std::string *name, std::string *path);
  // Ends org.bluez, leaving the bus running.
  void StopBluez();

private:
  bool Call(const char *method, const char *types, ...);

  Daemon daemon_;
  pid_t mock_ = -1;
  sd_bus *bus_ = nullptr;
  bool ready_ = false;
  std::string problem_;
  std::string oldAddress_, oldMode_;
  bool hadAddress_ = false, hadMode_ = false;
};

} // namespace testbus
