// libFuzzer target for the reply side of the exchange (clang only): arbitrary
// bytes answer the sense queries, the extended queries and a poll visit.
// Input: one byte choosing the query (and, for a poll visit, the state), then
// replies, each a length byte (low four bits) and that many bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "link/queries.h"
#include "monitor/poll.h"
#include "tests/support/fake_line.h"

namespace {

constexpr DWORD kStates[] = {0,  16, 31, 32, 34,  44,  47,  48,  63,  64,
                             79, 80, 95, 96, 111, 112, 114, 116, 768, 999};

const auto line = std::make_shared<vtr::test::FakeLine>();

DeviceRecord* Record() {
  static auto* port = new vtr::test::LinkedRecord(line);
  return &port->rec;
}

void (*const kQueries[])(DeviceRecord*, std::uint8_t) = {
    [](DeviceRecord* r, std::uint8_t d) { kestrelGetPosition(r, d & 4u); },
    [](DeviceRecord* r, std::uint8_t) { kestrelGetStatus(r); },
    [](DeviceRecord* r, std::uint8_t) { kestrelGetMode(r); },
    [](DeviceRecord* r, std::uint8_t) { kestrelGetModeX(r); },
    [](DeviceRecord* r, std::uint8_t) { kestrelGetHeader(r); },
    [](DeviceRecord* r, std::uint8_t) { kestrelSetTimer(r); },
    [](DeviceRecord* r, std::uint8_t) { kestrelGetID(r); },
    [](DeviceRecord* r, std::uint8_t) { kestrelGetStatusVDR(r, 0x300); },
    [](DeviceRecord* r, std::uint8_t) {
      BYTE value = 0;
      kestrelGetStatusZDKR(r, GETZDKR_HUE, &value, nullptr);
    },
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  DeviceRecord* rec = Record();
  std::vector<vtr::test::Bytes> replies;
  for (std::size_t i = 2; i < size;) {
    const std::size_t n = data[i++] & 0x0Fu;
    replies.emplace_back(data + i, data + std::min(size, i + n));
    i += n;
  }
  line->Script(std::move(replies));
  rec->HasTC = data[1] & 1u;
  rec->Pal = (data[1] >> 1) & 1u;
  if (data[0] % 10 < std::size(kQueries)) {
    kQueries[data[0] % 10](rec, data[1]);
    return 0;
  }
  // One poll visit of a record in slot 0 with a pending command.
  InitializeCriticalSection(&rec->csCommand);
  rec->nOpenCount = 1;
  rec->fMotionDone = 0;
  rec->dwPendingState = kStates[(data[0] / 10u) % std::size(kStates)];
  rec->dwPendingDelay = data[1] & 3u;
  rec->dwPendingTo = static_cast<DWORD>(data[1]) * 97u;
  rec->dwPendingFrom = data[1] & 8u;
  vtrStates[0].lpRecord = rec;
  TimerProc(nullptr, WM_TIMER, 0, 0);
  vtrStates[0].lpRecord = nullptr;
  DeleteCriticalSection(&rec->csCommand);
  return 0;
}
