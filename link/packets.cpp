// The fixed packets, building set-parameter packets, and the one write that
// every sender goes through.
#include "link/packets.h"

#include "common/globals.h"
#include "platform/files.h"
#include "platform/trace.h"

#include <cstring>
#include <mutex>

const CommandPacket kHandshakeRequestPacket = {0, 0, 0, 0, HANDSHAKE_REQUEST, 0, 0, 0, 0, 0, 0, 0x05};
const CommandPacket kRequestSystemDataPacket = {0, 0, 0, 0, REQUEST_SYSTEM_DATA, 0, 0, 0, 0, 0, 0, 0x0A};
const CommandPacket kDisconnectPacket = {0, 0, 0, 0, DISCONNECT, 0, 0, 0, 0, 0, 0, 0x0B};
const CommandPacket kCalibrationOffPacket = {0, 0, 0, 0, SET_PARAMETER, PARAM_CALIBRATION, 23, 0, 0, 0, 0, 0x18};
const CommandPacket kCalibrationOnPacket = {0, 0, 0, 0, SET_PARAMETER, PARAM_CALIBRATION, 22, 0, 0, 0, 0, 0x19};
const CommandPacket kCalibrationModePacket = {0, 0, 0, 0, CALIBRATION_MODE, 0, 0, 0, 0, 0, 0, 0x02};
const CommandPacket kTypingModePacket = {0, 0, 0, 0, TYPING_MODE, 0, 0, 0, 0, 0, 0, 0x03};

uint8_t PacketChecksum(const uint8_t *packet) {
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < kPacketSize; ++i)
    sum ^= packet[i];
  return sum;
}

void BuildSetParameter(CommandPacket packet, uint8_t id, int32_t value) {
  memset(packet, 0, kPacketSize);
  packet[4] = SET_PARAMETER;
  packet[5] = id;
  packet[6] = static_cast<uint8_t>(value & 0xFF);
  packet[11] = PacketChecksum(packet);
}

// Both threads write packets; the lock keeps each 12-byte write whole on the
// wire and guards txPacket, the copy handed to the port.
static std::mutex portWriteLock;

DWORD SendPacket(const CommandPacket packet) {
  if (packet[4] == REQUEST_SYSTEM_DATA)
    NKDbgPrintfW(u"Request System data ");
  std::lock_guard<std::mutex> lock(portWriteLock);
  memcpy(AppGlobals.txPacket, packet, kPacketSize);
  DWORD written = 0;
  if (!WriteFile(AppGlobals.portHandle.load(), AppGlobals.txPacket, kPacketSize, &written, nullptr))
    return 0;
  return written;
}
