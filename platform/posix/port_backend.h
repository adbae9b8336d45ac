// What one kind of serial line (a tty device, a network port, an in-process
// endpoint) does behind the Win32 communications calls. serial.cpp chooses
// the kind once at open and does the common work itself: handle lookup,
// locking, the pacing of empty read attempts, parameter checks and saying
// which port failed. A backend is used by one call at a time and is destroyed
// by CloseHandle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/clock.h"
#include "platform/win32.h"

namespace vtr::platform {

class SerialEndpoint;

namespace port {

class Backend {
 public:
  virtual ~Backend() = default;

  // One read that does not wait: the bytes placed in `buf` (0 when none has
  // arrived), nullopt when the line is gone. `askGone`: whether a read that
  // finds nothing also asks the line whether it is gone; false when the
  // caller is about to wait on it and will learn it there.
  virtual std::optional<std::size_t> ReadNow(std::span<std::uint8_t> buf, bool askGone) = 0;
  // Sleeps until something may have arrived or `until`; the line was seen
  // empty at `seenEmpty`. Returns the time up to which the line is known to
  // have been empty (`until` when nothing came), nullopt when it is gone.
  virtual std::optional<Micros> WaitForBytes(Micros seenEmpty, Micros until) = 0;
  // Returns once the bytes are handed to the line (they may still be on
  // their way), or its budget ran out; `done` counts the bytes handed over.
  virtual bool Write(std::span<const std::uint8_t> bytes, std::size_t& done) = 0;
  // PURGE_RXCLEAR and PURGE_TXCLEAR of `flags`; the other bits do nothing. A
  // transmit purge never cuts what a write handed over: that is a command
  // on its way to the deck.
  virtual bool Purge(DWORD flags) = 0;
  // Line errors since the last call (CE_ flags) and the queues, into those
  // given (both cleared by the caller); false when the line is gone.
  virtual bool CheckErrors(LPDWORD errors, LPCOMSTAT stat) = 0;
  // Applies line settings that LineSettingsValid accepted.
  virtual bool Apply(const DCB& dcb) = 0;
  // `dcb` holds the settings last applied; overlays what the line reports.
  virtual bool ReadBack(DCB& dcb) = 0;
};

// Why the open or call of a backend on this thread failed, in a few words
// ("no such device", "connection lost"); serial.cpp reports it for
// TakePortFailure with the port's name and where it leads.
void NoteFailure(std::string why);

// Settings any kind of line can take: a known baud rate, 5 to 8 data bits,
// a known parity and stop size (1.5 only with 5 data bits).
bool LineSettingsValid(const DCB& dcb);

// Each open answers null on failure, with NoteFailure.
// A tty device (real port, USB adapter, pseudo-terminal), exclusively
// locked.
std::unique_ptr<Backend> OpenTty(const std::string& path);
// An in-process endpoint, which one port holds at a time.
std::unique_ptr<Backend> OpenEndpoint(std::shared_ptr<SerialEndpoint> endpoint);
// A tcp:// or rfc2217:// port (net_port.cpp).
std::unique_ptr<Backend> OpenNetwork(const std::string& path);

// The wait of a line that is a descriptor (a tty, a socket): readable means
// something arrived, hang-up or error that the line is gone.
std::optional<Micros> WaitOnDescriptor(int fd, Micros seenEmpty, Micros until);

}  // namespace port
}  // namespace vtr::platform
