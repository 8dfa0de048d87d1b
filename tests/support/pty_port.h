// A pseudo-terminal standing in for a serial port: the program opens the
// slave side (offered as COM<n> in a devices folder) as it opens a real
// port, and the test plays the far side on the master.
//
// The object owns both descriptors and the offered link; the destructor
// removes the link and closes what is still open. Nothing here needs the
// desktop toolkit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class PtyPort {
public:
  // Opens the pair with the slave side raw (nothing echoed or translated)
  // and the master non-blocking. holdSlave: keeps a descriptor of the slave
  // open here too, so that the program closing its side is no hang-up.
  // ok() tells whether it worked.
  explicit PtyPort(bool holdSlave = false);
  ~PtyPort();
  PtyPort(const PtyPort &) = delete;
  PtyPort &operator=(const PtyPort &) = delete;

  bool ok() const { return master_ >= 0; }
  int master() const { return master_; }
  // The slave's device path ("/dev/pts/N"); "" when opening failed.
  const std::string &slave() const { return slave_; }

  // Offers the slave as devicesDir/COM<index> (a symbolic link; the folder
  // is made, an old link replaced). False when it cannot be made.
  bool OfferAs(const std::string &devicesDir, int index);
  // Writes all bytes on the far side; false when not all were written.
  bool Send(const std::vector<uint8_t> &bytes);
  // What the program wrote: waits up to waitMs for at least `atLeast`
  // bytes, then returns everything read (possibly fewer).
  std::vector<uint8_t> Received(size_t atLeast = 0, int waitMs = 0);
  // What the program writes until quietMs pass without a byte.
  std::vector<uint8_t> ReceivedUntilQuiet(int quietMs);
  // Closes the far side (and the held slave): the port hangs up.
  void HangUp();

private:
  int master_ = -1;
  int heldSlave_ = -1;
  std::string slave_;
  std::string offered_;
};

} // namespace testsupport
