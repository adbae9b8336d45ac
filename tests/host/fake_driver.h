// A driver module that records what the library sends it, for host tests
// (single-threaded: the library calls its driver on the caller's thread).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "mci/mci_library.h"

namespace vtr::mci::testing {

struct DriverCall {
  DWORD_PTR driverId = 0;
  UINT message = 0;
  LPARAM flags = 0;
  std::vector<std::uint8_t> block;  // copy of the parameter block (first 128 bytes)
  std::u16string params;            // DRV_OPEN's parameter string
};

class FakeDriver {
 public:
  FakeDriver();  // installs itself as the module the entry points reach
  ~FakeDriver();
  DriverModuleEntry Entry() const;

  const std::vector<DriverCall>& Calls() const { return calls_; }
  std::vector<UINT> Messages() const;
  void Clear() { calls_.clear(); }

  // What an MCI command answers; it may write into the block. By default 0
  // and nothing written.
  std::function<LRESULT(const DriverCall&, std::uint8_t* block)> onCommand;
  bool failLoad = false;
  bool failOpen = false;
  UINT loadedTable = MCI_NO_COMMAND_TABLE;
  int instanceInits = 0;
  int instanceExits = 0;

  static LRESULT Proc(DWORD_PTR id, HDRVR h, UINT msg, LPARAM p1, LPARAM p2);
  static BOOL Init(HINSTANCE, DWORD reason, LPVOID);

 private:
  std::vector<DriverCall> calls_;
};

}  // namespace vtr::mci::testing
