// libFuzzer target for the reply side of the exchange (clang only): arbitrary
// bytes answer the sense queries, the extended queries and a poll visit.
// Input: one byte choosing the query (and, for a poll visit, the state), then
// replies, each a length byte (low four bits) and that many bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/queries.h"
#include "monitor/poll.h"
#include "tests/core/scripted_port.h"

namespace {

constexpr DWORD kStates[] = {0,  16, 31, 32, 34,  44,  47,  48,  63,  64,
                             79, 80, 95, 96, 111, 112, 114, 116, 768, 999};

vtr::test::ScriptedPort& Port() {
  static vtr::test::ScriptedPort* port = [] {
    auto* p = new vtr::test::ScriptedPort;
    InitializeCriticalSection(&p->rec.csCommand);
    return p;
  }();
  return *port;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  vtr::test::ScriptedPort& port = Port();
  std::vector<vtr::test::Bytes> replies;
  for (std::size_t i = 2; i < size;) {
    const std::size_t n = data[i++] & 0x0Fu;
    replies.emplace_back(data + i, data + std::min(size, i + n));
    i += n;
  }
  port.line->Reset();
  port.line->Script(std::move(replies));
  DeviceRecord* rec = &port.rec;
  rec->HasTC = data[1] & 1u;
  rec->Pal = (data[1] >> 1) & 1u;
  BYTE value = 0;
  switch (data[0] % 10) {
    case 0:
      kestrelGetPosition(rec, data[1] & 4u);
      break;
    case 1:
      kestrelGetStatus(rec);
      break;
    case 2:
      kestrelGetMode(rec);
      break;
    case 3:
      kestrelGetModeX(rec);
      break;
    case 4:
      kestrelGetHeader(rec);
      break;
    case 5:
      kestrelSetTimer(rec);
      break;
    case 6:
      kestrelGetID(rec);
      break;
    case 7:
      kestrelGetStatusVDR(rec, 0x300);
      break;
    case 8:
      kestrelGetStatusZDKR(rec, GETZDKR_HUE, &value, nullptr);
      break;
    default: {
      // One poll visit of a record in slot 0 with a pending command.
      rec->nOpenCount = 1;
      rec->fMotionDone = 0;
      rec->dwPendingState = kStates[(data[0] / 10u) % std::size(kStates)];
      rec->dwPendingDelay = data[1] & 3u;
      rec->dwPendingTo = static_cast<DWORD>(data[1]) * 97u;
      rec->dwPendingFrom = data[1] & 8u;
      vtrStates[0].lpRecord = rec;
      TimerProc(nullptr, WM_TIMER, 0, 0);
      vtrStates[0].lpRecord = nullptr;
      break;
    }
  }
  return 0;
}
