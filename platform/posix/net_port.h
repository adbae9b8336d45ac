// Serial ports on the network: a terminal server or ser2net reached as
// "tcp://HOST:PORT" (raw bytes) or "rfc2217://HOST:PORT" (Telnet with the
// Com Port Control option). A NetLine is the backend of a port whose path
// names one; the driver sees the same handle-based calls as on a tty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/port_backend.h"
#include "platform/win32.h"

namespace vtr::platform::net {

// "tcp://" or "rfc2217://" at the start: a network port, good or bad.
bool IsNetworkPath(std::string_view path);

struct Target {
  bool telnet = false;  // rfc2217://
  std::string host;     // without the brackets of an IPv6 literal
  std::string port;     // decimal 1..65535
};
// nullopt when `path` is not SCHEME://HOST:PORT with a port number.
std::optional<Target> ParseTarget(std::string_view path);

// The Telnet side of an rfc2217:// port, without the socket: bytes from the
// server go in, the line's data and the answers owed to the server come out.
class TelnetComPort {
 public:
  enum class ComPort { kAsked, kAccepted, kRefused };

  // The client's opening requests: Com Port Control, binary both ways,
  // suppress go-ahead.
  TelnetComPort();
  void Feed(std::span<const std::uint8_t> in);
  // `bytes` escaped as Telnet data, appended to `out`.
  static void EscapeData(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out);
  // IAC SB COM-PORT-OPTION code value IAC SE, appended to `outgoing`.
  void Command(std::uint8_t code, std::span<const std::uint8_t> value);

  std::deque<std::uint8_t> data;       // line bytes received, in order
  std::vector<std::uint8_t> outgoing;  // to send to the server
  ComPort comPort = ComPort::kAsked;
  // Server answers to the client's commands (SET-BAUDRATE .. PURGE-DATA), by
  // client code: the value last reported; empty until one arrives.
  std::vector<std::uint8_t> answers[13];
  std::uint8_t lineState = 0;  // NOTIFY-LINESTATE error bits since last taken
  bool suspended = false;      // FLOWCONTROL-SUSPEND until RESUME

 private:
  void Verb(std::uint8_t verb, std::uint8_t option);
  void Subnegotiation();
  void Send(std::uint8_t verb, std::uint8_t option);

  enum class State { kData, kIac, kVerb, kSb, kSbIac } state_ = State::kData;
  std::uint8_t verb_ = 0;
  std::vector<std::uint8_t> sb_;
  // Per option: enabled, and our request awaiting an answer (RFC 1143's
  // "WANTYES"), for our side (WILL/WONT) and the server's (DO/DONT).
  bool localOn_[256] = {};
  bool localAsked_[256] = {};
  bool remoteOn_[256] = {};
  bool remoteAsked_[256] = {};
  bool refused_[256] = {};  // an unwanted option already declined once
};

// One open network port.
class NetLine final : public port::Backend {
 public:
  // Connects (and for rfc2217:// negotiates), each step bounded in time;
  // null on failure, with port::NoteFailure.
  // One connection per target in the process, as a tty opens once.
  static std::unique_ptr<NetLine> Open(std::string_view path);
  ~NetLine() override;
  NetLine(const NetLine&) = delete;
  NetLine& operator=(const NetLine&) = delete;

  // Nullopt once the connection is gone.
  std::optional<std::size_t> ReadNow(std::span<std::uint8_t> buf, bool askGone) override;
  // On the socket, readable when bytes (data or Telnet) arrive.
  std::optional<Micros> WaitForBytes(Micros seenEmpty, Micros until) override;
  // Returns when every byte is handed to the kernel, or the budget ran out.
  bool Write(std::span<const std::uint8_t> bytes, std::size_t& done) override;
  // The receive side only: what has arrived, and over rfc2217:// the
  // server's buffer towards us (waiting for its answer).
  bool Purge(DWORD flags) override;
  // Line errors since the last call (rfc2217:// only) and the queues.
  bool CheckErrors(LPDWORD errors, LPCOMSTAT stat) override;
  // rfc2217://: sends the line settings and waits for the server's answers.
  bool Apply(const DCB& dcb) override;
  // The settings last applied: the server is not asked.
  bool ReadBack(DCB& /*dcb*/) override { return true; }

 private:
  NetLine(int fd, std::string key, bool telnet);
  static std::unique_ptr<NetLine> Connected(std::string_view path, std::string& why);
  // Takes in what the socket holds without waiting; false when it is gone.
  bool Pump();
  // The connection is gone: every later call fails, saying so.
  void Died();
  bool SendOwed();
  bool SendAll(std::span<const std::uint8_t> bytes, std::size_t* sent);
  // Pumps until `done` holds or the deadline passes; false when gone.
  template <class Done>
  bool PumpUntil(int timeoutMs, Done done);

  int fd_;
  std::string key_;
  std::optional<TelnetComPort> telnet_;
  std::deque<std::uint8_t> raw_;  // tcp://: bytes received, not yet read
  std::deque<std::uint8_t>& Data() { return telnet_ ? telnet_->data : raw_; }
  bool dead_ = false;
  std::string gone_;  // why, once dead
  // False once a purge went unanswered: later ones are not waited for.
  bool purgeAnswered_ = true;
};

}  // namespace vtr::platform::net
