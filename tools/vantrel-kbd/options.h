// The emulator's command line.
#pragma once

#include "session.h"

#include <cstdint>
#include <string>
#include <vector>

struct Options {
  std::string port;    // COM0 .. COM9
  std::string devices; // --devices, else the VANTREL_DEVICES rule
  std::string logPath; // empty: stdout
  std::string listen;  // --listen: serve on a Unix socket here instead of a pty

  // Identity frame.
  uint32_t serial = 0x00A5F301;
  uint16_t features = 1;
  uint16_t build = 9100;
  uint16_t configTable = 1;
  // Status frames.
  uint8_t battery = 180;
  uint8_t reference = 168;
  bool statusCodeSet = false;
  uint8_t statusCode = 0;
  int statusAfter = 1; // the N-th status frame of the run carries statusCode

  bool sendSync = true;
  int heartbeatMs = 1000; // 0: no heartbeat
  int firstHeartbeatMs = -1; // >= 0: the first heartbeat this long after opening
  bool answer = true;     // answer handshake and status requests
  int splitFramesMs = -1; // >= 0: send frames one byte at a time, this far apart

  bool calibrationOk = true;
  uint8_t calibrationValues[6] = {12, 1, 40, 9, 1, 56};
  int calibrationStepMs = 800;

  std::vector<uint8_t> keys; // from --type and --keys, in the order given
  int keyIntervalMs = 100;
  int typeDelayMs = 300;
  // Scripted session: steps run after every handshake, in place of the
  // one-off typing; the keys above are what its type steps press.
  std::vector<SessionStep> session;
  int sessionForSeconds = 0; // start the steps over until this long has passed
  bool exitAfterTyping = false; // also: end after the session
  bool exitOnClose = false;
};

// Parses argv. Returns 0 to run, 1 after --help or --version, 2 on a usage error (the
// message has been printed).
int ParseOptions(int argc, char **argv, Options &opt);
