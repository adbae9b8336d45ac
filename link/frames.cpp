// The command byte table and the send/acknowledge exchange.
#include "link/frames.h"

#include <atomic>
#include <cstring>

#include "link/serial.h"

#define FRAME(name, ...) BYTE name[] = {__VA_ARGS__};
#include "link/frames.inc"
#undef FRAME

namespace {
#define FRAME(name, ...) const BYTE name##_AT_LOAD[] = {__VA_ARGS__};
#include "link/frames.inc"
#undef FRAME

const CommandEntry kEntries[] = {
#define FRAME(name, ...) {#name, name, name##_AT_LOAD},
#include "link/frames.inc"
#undef FRAME
};

// Every entry's count byte equals 2 plus the data count of its CMD-1.
constexpr bool CountsConsistent() {
#define FRAME(name, ...)                                                                       \
  {                                                                                            \
    constexpr BYTE b[] = {__VA_ARGS__};                                                        \
    if (b[0] != 2 + (b[1] & 0x0F) || sizeof(b) != static_cast<size_t>(b[0]) + 1) return false; \
  }
#include "link/frames.inc"
#undef FRAME
  return true;
}
static_assert(CountsConsistent(), "a command entry's count byte disagrees with its CMD-1");

std::atomic_ref<DWORD> LinkFlag() { return std::atomic_ref<DWORD>(fComInUse); }
}  // namespace

DWORD fComInUse;
CRITICAL_SECTION csLink;

std::span<const CommandEntry> CommandTable() { return kEntries; }

void ResetCommandTable() {
  for (const auto& e : kEntries) std::memcpy(e.lpFrame, e.lpInitial, e.lpInitial[0] + 1u);
}

bool ClaimLink() { return LinkFlag().exchange(1) == 0; }
void ReleaseLink(bool owner) {
  if (owner) LinkFlag().store(0);
}
void ClearLink() { LinkFlag().store(0); }
bool LinkBusy() { return LinkFlag().load() != 0; }

int ReadReply(HANDLE hComm, BYTE* buf, int count, DWORD budget) {
  int got = 0;
  while (got < count && budget > 0) {
    if (ReadComm(hComm, buf + got, 1) == 1) {
      ++got;
    } else {
      --budget;  // only an attempt that yields nothing costs
    }
  }
  return got;
}

bool ReadReplyByte(HANDLE hComm, BYTE* dst) { return ReadReply(hComm, dst, 1, kReplyBudget) == 1; }

MCIERROR kestrelSendCmd(DeviceRecord* rec, CommandFrame frame, DWORD bWaitAck) {
  LinkGuard link;
  const bool owner = ClaimLink();
  HANDLE h = rec->hComm;

  // Whatever earlier replies are still waiting is dropped before every command.
  FlushComm(h, 0);
  FlushComm(h, 1);

  unsigned sum = 0;
  const int count = frame[0];
  for (int i = 1; i <= count; ++i) {
    const BYTE b = frame[i];
    int attempt = 0;
    while (attempt < 8 && WriteComm(h, &b, 1) != 1) ++attempt;
    if (attempt == 8) {
      wLastComErr = GetCommError(h, nullptr);
      ReleaseLink(owner);
      return MCIERR_HARDWARE;
    }
    sum += b;
  }
  const BYTE checksum = static_cast<BYTE>(sum & 0xFF);
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int r = WriteComm(h, &checksum, 1);
    if (r == 1 || r == -1) break;
  }

  if (bWaitAck == 0) {
    ReleaseLink(owner);
    return 0;
  }

  BYTE ack[3] = {0, 0, 0};
  if (ReadReply(h, ack, 3, kAckBudget) < 3) {
    wLastComErr = GetCommError(h, nullptr);
    ReleaseLink(owner);
    return MCIERR_HARDWARE;
  }
  ReleaseLink(owner);
  return (ack[0] == 0x10 && ack[1] == 0x01 && ack[2] == 0x11) ? 0 : MCIERR_HARDWARE;
}
