// BlueZ over the system D-Bus (sd-bus), internal to the platform: the paired
// devices, their virtual serial port names, forgetting a device, and the
// serial stream to a device through BlueZ's profile interface.
//
// Every call opens its own connection to the system bus (DBUS_SYSTEM_BUS_ADDRESS
// when set), so any thread may call, and is bounded by a time-out; nothing
// here waits longer than the time-out named with it. Failures are traced.
#pragma once

#include "platform/wintypes.h"

#include <string>
#include <vector>

// The serial port profile's UUID: a device that lists it offers a serial
// port, and the stream to it is opened through this profile.
inline constexpr char kSerialPortUuid[] = "00001101-0000-1000-8000-00805f9b34fb";

// One paired device as BlueZ reports it.
struct BluezDevice {
  std::string address;  // 12 lower-case hexadecimal digits, no colons
  std::string path;     // its object path, /org/bluez/hciN/dev_...
  std::string adapter;  // its adapter's object path
  std::string name;     // its alias, for traces and status texts
  bool serial = false;  // offers the serial port profile
  int portNumber = -1;  // its virtual port COM<number> when serial, else -1
};

enum class BluezAnswer {
  Served,  // BlueZ answered; the list is what it reports
  Unused,  // VANTREL_BLUETOOTH=stored: BlueZ is not asked
  NoBus,   // no system bus could be reached
  NoBluez, // the bus has no org.bluez
  Failed,  // org.bluez did not answer in time, or answered nonsense
};

// Whether BlueZ may be asked at all (VANTREL_BLUETOOTH is not "stored").
bool BluezWanted();

// The devices BlueZ reports as paired, in its order, with their port numbers
// assigned (see BluezPortNumber). Waits at most 1.5 s. *why says why when the
// answer is not Served. A change of answer since the last call is traced once.
BluezAnswer BluezPairedDevices(std::vector<BluezDevice> *devices, std::string *why);

// The virtual port number of a serial device: 10 + a hash of its address
// modulo 9990 (COM10 to COM9999, never one of the probe names COM0 to COM9,
// and the same number in every run while no other paired device hashes to
// it); when two paired serial devices hash to the same number, the one with
// the lower address keeps it and the other takes the next free one.
// Fills portNumber of every serial device in the list.
void BluezAssignPortNumbers(std::vector<BluezDevice> *devices);

// Forgets a device: org.bluez.Adapter1.RemoveDevice, waiting at most 3 s.
// Returns ERROR_SUCCESS, or the failure as a Win32 error (traced):
// ERROR_FILE_NOT_FOUND when BlueZ does not know the device,
// ERROR_ACCESS_DENIED when it refuses, ERROR_TIMEOUT, ERROR_GEN_FAILURE.
LONG BluezRemoveDevice(const BluezDevice &device);

// The serial stream to a device (bluez_profile.cpp). Registers the serial
// port profile once per process and asks BlueZ to connect it, waiting at
// most 20 s. Returns a connected stream socket owned by the caller (closed
// with close(); BlueZ's end of the profile also closes when BlueZ asks it
// to), or -1 with *error set to a Win32 error and *why to a sentence for a
// person (the keyboard is off or out of reach, the profile is held by
// another program...). When another program holds the serial port profile,
// a raw RFCOMM socket to the device's serial port channel is tried instead
// (rfcomm_link.h, traced either way); only when that fails too does the
// call fail with ERROR_ACCESS_DENIED. The profile takes a stream only from
// the owner of org.bluez and only a Bluetooth stream socket (also a local
// one when DBUS_SYSTEM_BUS_ADDRESS names the system bus, for a stand-in);
// anything else is refused with org.bluez.Error.Rejected and traced, and
// the connection keeps waiting for BlueZ's stream.
int BluezConnectSerial(const BluezDevice &device, DWORD *error, std::string *why);

// The port that owned a stream of BluezConnectSerial is about to close it:
// the duplicate kept for RequestDisconnection goes too. Call before close(fd).
void BluezSerialClosed(int fd);

// The program is ending: the thread serving the streams unregisters the
// profile and ends (at most timeoutMs); later connections fail. Streams
// already open stay open until their ports close them. True when the thread
// has ended or never started.
bool BluezStopStreams(DWORD timeoutMs);
