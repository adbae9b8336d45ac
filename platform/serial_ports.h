// Where "COMn" leads on POSIX: a device path (a tty, a USB RS-422 adapter, a
// pseudo-terminal), a terminal server on the network (tcp://HOST:PORT for raw
// bytes, rfc2217://HOST:PORT for Telnet Com Port Control) or an in-process
// endpoint such as the virtual deck.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace vtr::platform {

// The far end of an in-process serial line. All calls come from the driver's
// side, on whichever thread uses the port, serialised by the port.
class SerialEndpoint {
 public:
  virtual ~SerialEndpoint() = default;
  // Bytes the driver wrote, arriving at the current clock time.
  virtual void Receive(std::span<const std::uint8_t> bytes) = 0;
  // Moves into `out` the bytes that have arrived at the driver's side by the
  // current clock time, in order; returns how many.
  virtual std::size_t Transmit(std::span<std::uint8_t> out) = 0;
  // When the next byte not yet arrived will arrive; nullopt when none is due.
  virtual std::optional<Micros> NextArrival() const = 0;
  // The driver discarded its receive queue: drop what has already arrived.
  virtual void DiscardArrived() = 0;
  // False once the line is gone (a vanished port): reads and writes fail.
  virtual bool Connected() const = 0;
};

// Binds COMn (1..98) to a device path, overriding the default /dev/ttyS{n-1},
// the environment (VTR422_COMn) and the ports file.
void BindPortPath(int comNumber, std::string path);
// Binds COMn to an in-process endpoint.
void BindVirtualPort(int comNumber, std::shared_ptr<SerialEndpoint> endpoint);
// Removes any binding of COMn made by the two calls above.
void UnbindPort(int comNumber);
namespace detail {
int ParseComPortName(std::string_view name);
}
// 1..98 for "COMn" or "\\.\COMn" (any case), 0 for anything else.
using detail::ParseComPortName;

// The device path COMn resolves to (bindings, then VTR422_COMn, then the ports
// file named by VTR422_PORTS, then /dev/ttyS{n-1}); empty for a virtual port
// or a number outside 1..98.
std::string ResolvePortPath(int comNumber);

// Why the last port call on this thread that failed (CreateFileA of a COM
// port, a read, write, purge, line settings, ClearCommError) did: the port,
// where it leads and what went wrong, as "COM9 -> /dev/ttyUSB9: no such
// device", "COM2 -> /dev/ttyS1: in use by another program (process 4242)" or
// "COM5 -> rfc2217://deckroom:2001: connection lost". Empty when no port call
// failed on this thread since the last reading. Reading it clears it.
std::string TakePortFailure();

// Wall or virtual time one empty read attempt is paced to on a port whose
// reads return at once. 9,500 attempts (the exchange's standard budget) span
// 9,500 times this.
inline constexpr Micros kEmptyReadPacing{5};
// The exchange's standard budget of empty attempts. A wait for a byte sleeps
// at most until the end of the current run's budget of this many attempts.
inline constexpr std::int64_t kPacedBudget = 9500;

}  // namespace vtr::platform
