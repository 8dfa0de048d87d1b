// Command-line parsing and --help for vantrel-kbd.
#include "options.h"

#include "typing.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kHelp[] = R"(Usage: vantrel-kbd --port COMn [options]
       vantrel-kbd --listen PATH [options]

Plays the textile keyboard's side of its serial protocol on a pseudo-terminal,
so that Vantrel can be run and tested without the keyboard. The pseudo-
terminal is offered as the link COMn in the devices folder, where Vantrel's
"COMn:" looks first. The link is removed when vantrel-kbd ends (also on
Ctrl-C or SIGTERM); a link left by an emulator that was killed is replaced.

When Vantrel opens the port, vantrel-kbd sends the sync pattern A5 5A and then
a heartbeat marker FA at a steady interval. It answers the handshake request
with an identity frame and every system-data request with a status frame,
follows calibration, and after the handshake types the keys asked for. It
keeps running when Vantrel closes the port and serves the next connection.
Every packet received is logged as one JSON object a line, with its time
(t_ms since start) and whether its checksum holds; opening, closing and the
frames sent are logged too ("event": "packet", "open", "close", "sent"). The
keys of a session also carry mono_ms, the time of their write on the system's
monotonic clock.

Port and log:
  --port COMn            port to offer, COM0 .. COM9 (required)
  --devices DIR          devices folder (default: VANTREL_DEVICES, else
                         $XDG_RUNTIME_DIR/vantrel/devices, else
                         /tmp/vantrel-<uid>/devices); it must be yours and
                         closed to writes by others (in /tmp: private, 0700),
                         as Vantrel uses links from no other folder
  --log PATH             write the log to PATH instead of stdout
  --listen PATH          instead of a port: listen on a Unix stream socket at
                         PATH and serve each connection made to it as the
                         keyboard's side of a radio link (a connection is
                         an open port, its end a closed one; a hang-up ends
                         the connection). The BlueZ stand-in of the tests
                         connects here when Vantrel connects its serial port

Identity frame (answer to the handshake request):
  --serial N             serial number, 32-bit (default 0x00A5F301)
  --features N           feature set, 16-bit (default 1)
  --build N              build number, 16-bit (default 9100; 9095 and up
                         make Vantrel send its reference parameter)
  --config-table N       configuration table, 16-bit (default 1)

Status frame (answer to each system-data request):
  --battery N            battery byte 0..255 (default 180)
  --reference N          reference byte 0..255 (default 168)
  --status-code CODE     status code to report (1 disconnect request,
                         2 and 8 disconnect with a notice, 4 test message)
  --status-after N       the N-th status frame of the run carries the code
                         (default 1); all others carry 0

Timing and breakage:
  --heartbeat MS         heartbeat interval (default 1000)
  --first-heartbeat MS   the first heartbeat MS after the port opens (default:
                         one interval; it always follows the sync pattern)
  --no-heartbeat         send no heartbeat markers
  --no-sync              do not send the sync pattern on opening
  --no-answer            ignore handshake and system-data requests
  --split-frames MS      send every frame one byte at a time, MS apart

Calibration (after calibration on and the calibration-mode packet):
  --calibration ok|fail  ok: three calibration points, then the values
                         frame; fail: the failure marker FE (default ok)
  --calibration-values A,B,C,D,E,F
                         origin X, X scale high, X scale low, origin Y,
                         Y scale high, Y scale low (default 12,1,40,9,1,56)
  --calibration-step MS  time a person takes per calibration key (default 800)

Typing (starts once, after the first handshake of the run):
  --type TEXT            press the keys a person presses for TEXT: Shift
                         (scancode 2) before a capital or a shifted symbol
                         (US arrangement); \n Enter, \t Tab, \b Backspace,
                         \e Esc, \\ a backslash
  --keys LIST            raw byte values, e.g. "65,66,0x5A" (0..255; values
                         from 128 up are markers, not keys)
  --key-interval MS      time between two key presses (default 100)
  --type-delay MS        pause after the handshake before the first key
                         (default 300)
  --exit-after-typing    end shortly after the last key (with --session:
                         after the session)
  --exit-on-close        end when Vantrel closes the port after a connection

Scripted session (in place of typing once; for long runs):
  --session STEPS        after every handshake, carry on with these steps,
                         separated by commas:
                           type:N    type N keys, one every --key-interval:
                                     the keys of --type and --keys in turn,
                                     else letters, digits and spaces
                           wait:MS   stay connected without typing
                           status:C  the next status frame carries code C;
                                     after 1, 2 or 8 no key is sent until
                                     the next connection
                           silence   send nothing (no heartbeat, no answer)
                                     until Vantrel closes the port
                           hangup    once Vantrel has read what was sent,
                                     hang up the line, as a keyboard out of
                                     range; the port is offered again at once
                         A step under way when a connection ends is dropped;
                         the next connection starts with the step after it.
                         Each step is logged ("event": "step"), a hang-up as
                         "hangup" with the bytes and keys Vantrel had not
                         read, and the end as "session_end" with the keys
                         sent.
  --session-for SECONDS  start the steps over until SECONDS have passed
                         since the first handshake; the session ends at the
                         first step due after that

  --help                 show this text
  --version              show the version and end

Exit status: 0 on a normal end, 1 when the port cannot be offered, 2 for a
mistake on the command line.
)";

bool ParseNumber(const char *text, unsigned long max, unsigned long &out) {
  if (!text || !*text || *text == '-')
    return false;
  char *end = nullptr;
  errno = 0;
  unsigned long v = strtoul(text, &end, 0);
  if (*end || errno || v > max)
    return false;
  out = v;
  return true;
}

// --type understands \n (Enter), \t (Tab), \b (Backspace), \e (Esc) and
// \\ (a backslash), since a shell argument cannot easily hold the keys.
std::string Unescape(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (text[++i]) {
    case 'n': out += '\n'; break;
    case 't': out += '\t'; break;
    case 'b': out += '\b'; break;
    case 'e': out += '\x1b'; break;
    default: out += text[i]; break;
    }
  }
  return out;
}

int UsageError(const std::string &message) {
  fprintf(stderr, "vantrel-kbd: %s\nTry 'vantrel-kbd --help'.\n", message.c_str());
  return 2;
}

} // namespace

int ParseOptions(int argc, char **argv, Options &opt) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    auto value = [&](const char *&out) {
      if (i + 1 >= argc)
        return false;
      out = argv[++i];
      return true;
    };
    // Numeric options share one path: name, limit, destination setter.
    auto number = [&](unsigned long max, unsigned long &out) -> int {
      const char *text = nullptr;
      if (!value(text))
        return UsageError(name + " needs a value");
      if (!ParseNumber(text, max, out))
        return UsageError(name + ": '" + text + "' is not a number from 0 to " + std::to_string(max));
      return 0;
    };
    unsigned long n = 0;
    const char *text = nullptr;
    int bad = 0;
    if (name == "--help" || name == "-h") {
      fputs(kHelp, stdout);
      return 1;
    } else if (name == "--version") {
      puts("vantrel-kbd " VANTREL_VERSION);
      return 1;
    } else if (name == "--port" || name == "--devices" || name == "--log" || name == "--type" ||
               name == "--keys" || name == "--calibration" || name == "--calibration-values" ||
               name == "--session" || name == "--listen") {
      if (!value(text))
        return UsageError(name + " needs a value");
      std::string v = text, error;
      if (name == "--port") {
        if (v.size() == 5 && v.back() == ':')
          v.pop_back(); // "COM5:" as the program names it
        if (v.size() != 4 || v.compare(0, 3, "COM") != 0 || v[3] < '0' || v[3] > '9')
          return UsageError("--port: '" + std::string(text) + "' is not COM0 .. COM9");
        opt.port = v;
      } else if (name == "--devices") {
        opt.devices = v;
      } else if (name == "--listen") {
        opt.listen = v;
      } else if (name == "--log") {
        opt.logPath = v;
      } else if (name == "--type") {
        if (!TextToScancodes(Unescape(v), opt.keys, error))
          return UsageError("--type: " + error);
      } else if (name == "--keys") {
        if (!ParseByteList(v, opt.keys, error))
          return UsageError("--keys: " + error);
      } else if (name == "--session") {
        if (!ParseSession(v, opt.session, error))
          return UsageError("--session: " + error);
      } else if (name == "--calibration") {
        if (v != "ok" && v != "fail")
          return UsageError("--calibration: '" + v + "' is neither ok nor fail");
        opt.calibrationOk = v == "ok";
      } else {
        std::vector<uint8_t> values;
        if (!ParseByteList(v, values, error) || values.size() != 6)
          return UsageError("--calibration-values: six byte values are needed" +
                            (error.empty() ? std::string() : " (" + error + ")"));
        std::copy(values.begin(), values.end(), opt.calibrationValues);
      }
    } else if (name == "--serial") {
      if (!(bad = number(0xFFFFFFFFul, n)))
        opt.serial = static_cast<uint32_t>(n);
    } else if (name == "--features" || name == "--build" || name == "--config-table") {
      if (!(bad = number(0xFFFF, n)))
        (name == "--features" ? opt.features : name == "--build" ? opt.build : opt.configTable) =
            static_cast<uint16_t>(n);
    } else if (name == "--battery" || name == "--reference" || name == "--status-code") {
      if (!(bad = number(255, n))) {
        uint8_t &dst = name == "--battery" ? opt.battery : name == "--reference" ? opt.reference : opt.statusCode;
        dst = static_cast<uint8_t>(n);
        opt.statusCodeSet |= name == "--status-code";
      }
    } else if (name == "--status-after" || name == "--heartbeat" || name == "--split-frames" ||
               name == "--calibration-step" || name == "--key-interval" || name == "--type-delay" ||
               name == "--session-for" || name == "--first-heartbeat") {
      if (!(bad = number(3600000, n))) {
        int v = static_cast<int>(n);
        if (name == "--status-after") {
          if (v < 1)
            return UsageError("--status-after counts from 1");
          opt.statusAfter = v;
        } else if (name == "--heartbeat") {
          if (v < 1)
            return UsageError("--heartbeat needs at least 1 ms (or --no-heartbeat)");
          opt.heartbeatMs = v;
        } else if (name == "--first-heartbeat") {
          opt.firstHeartbeatMs = v;
        } else if (name == "--split-frames") {
          opt.splitFramesMs = v;
        } else if (name == "--calibration-step") {
          opt.calibrationStepMs = v;
        } else if (name == "--session-for") {
          opt.sessionForSeconds = v;
        } else if (name == "--key-interval") {
          opt.keyIntervalMs = v;
        } else {
          opt.typeDelayMs = v;
        }
      }
    } else if (name == "--no-heartbeat") {
      opt.heartbeatMs = 0;
    } else if (name == "--no-sync") {
      opt.sendSync = false;
    } else if (name == "--no-answer") {
      opt.answer = false;
    } else if (name == "--exit-after-typing") {
      opt.exitAfterTyping = true;
    } else if (name == "--exit-on-close") {
      opt.exitOnClose = true;
    } else {
      return UsageError("unknown option '" + name + "'");
    }
    if (bad)
      return bad;
  }
  if (opt.port.empty() == opt.listen.empty())
    return UsageError("one of --port COMn and --listen PATH is required");
  if (opt.exitAfterTyping && opt.keys.empty() && opt.session.empty())
    return UsageError("--exit-after-typing needs --type, --keys or --session");
  if (opt.sessionForSeconds > 0 && opt.session.empty())
    return UsageError("--session-for needs --session");
  if (!opt.session.empty() && opt.keys.empty()) {
    std::string error;
    TextToScancodes("the quick brown fox jumps over the lazy dog 0123456789 ", opt.keys, error);
  }
  return 0;
}
