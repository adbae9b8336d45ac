// Network ports: raw TCP and RFC 2217 (Telnet Com Port Control).
#include "platform/posix/net_port.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "platform/serial_ports.h"

namespace vtr::platform::net {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Each step of an open, and the wait for the answers to line settings.
constexpr int kResolveMs = 2000;
constexpr int kConnectMs = 2000;
constexpr int kNegotiateMs = 2000;
constexpr int kAnswerMs = 2000;
// Same as a tty's wait for room in its transmit queue.
constexpr int kWriteMs = 1000;
// A peer that stops acknowledging (cable pulled, server host gone) kills the
// connection after this long, instead of never.
constexpr unsigned kUserTimeoutMs = 3000;

constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                       kSe = 240;
constexpr std::uint8_t kBinary = 0, kSga = 3, kComPort = 44;
// Com Port Control codes (client to server; the server answers with +100).
constexpr std::uint8_t kSignature = 0, kSetBaud = 1, kSetDataSize = 2, kSetParity = 3,
                       kSetStopSize = 4, kSetControl = 5, kSetLineStateMask = 10,
                       kSetModemStateMask = 11, kPurgeData = 12;
constexpr std::uint8_t kServer = 100;
constexpr std::uint8_t kNotifyLineState = 6, kNotifyModemState = 7, kSuspend = 8, kResume = 9;
// Line-state bits reported: overrun, parity, framing errors and break.
constexpr std::uint8_t kLineErrors = 0x02 | 0x04 | 0x08 | 0x10;

// Never destroyed, for the same reason as the endpoints' set: a port still
// open at exit closes from the port registry's destructor.
std::mutex gOpenMutex;
std::set<std::string>& OpenTargets() {
  static auto* targets = new std::set<std::string>;
  return *targets;
}

bool Fail(std::string& why, std::string text) {
  why = std::move(text);
  return false;
}

int MsLeft(SteadyClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

// getaddrinfo has no time limit of its own: it runs on a helper thread that
// is left to finish alone when it takes too long.
bool Resolve(const Target& t, addrinfo*& result, std::string& why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  struct Shared {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool abandoned = false;
    int rc = 0;
    addrinfo* list = nullptr;
  };
  auto shared = std::make_shared<Shared>();
  std::thread([shared, host = t.host, port = t.port, hints] {
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    std::lock_guard lock(shared->m);
    if (shared->abandoned) {
      if (rc == 0) ::freeaddrinfo(list);
      return;
    }
    shared->rc = rc;
    shared->list = list;
    shared->done = true;
    shared->cv.notify_all();
  }).detach();
  std::unique_lock lock(shared->m);
  if (!shared->cv.wait_for(lock, std::chrono::milliseconds(kResolveMs),
                           [&] { return shared->done; })) {
    shared->abandoned = true;
    return Fail(why, "no answer from the name service for '" + t.host + "' within " +
                         std::to_string(kResolveMs / 1000) + " s");
  }
  if (shared->rc != 0) {
    return Fail(why, "cannot resolve host '" + t.host + "': " + ::gai_strerror(shared->rc));
  }
  result = shared->list;
  return true;
}

int Connect(const Target& t, std::string& why) {
  addrinfo* list = nullptr;
  if (!Resolve(t, list, why)) return -1;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kConnectMs);
  int fd = -1;
  int err = ETIMEDOUT;
  for (addrinfo* a = list; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      rc = ::poll(&p, 1, MsLeft(deadline));
      socklen_t len = sizeof err;
      if (rc == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) {
        rc = 0;
      } else {
        if (rc == 0) err = ETIMEDOUT;
        rc = -1;
      }
    } else if (rc != 0) {
      err = errno;
    }
    if (rc != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(list);
  if (fd < 0) {
    Fail(why, err == ECONNREFUSED ? std::string("connection refused")
              : err == ETIMEDOUT  ? "no answer within " + std::to_string(kConnectMs / 1000) + " s"
                                  : std::string("cannot connect: ") + std::strerror(err));
    return -1;
  }
  // Every byte leaves at once: a command's bytes must not wait for an
  // acknowledgement of the one before.
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  const int idle = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &idle, sizeof idle);
  const unsigned userTimeout = kUserTimeoutMs;
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
  return fd;
}

// What a server printed before it hung up ("Port's device already in use"),
// as one line of printable text.
std::string Printable(const std::deque<std::uint8_t>& bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) {
    if (text.size() >= 80) break;
    if (b >= 0x20 && b < 0x7F) text += static_cast<char>(b);
  }
  return text;
}

}  // namespace

bool IsNetworkPath(std::string_view path) {
  return path.starts_with("tcp://") || path.starts_with("rfc2217://");
}

std::optional<Target> ParseTarget(std::string_view path) {
  Target t;
  if (path.starts_with("tcp://")) {
    path.remove_prefix(6);
  } else if (path.starts_with("rfc2217://")) {
    t.telnet = true;
    path.remove_prefix(10);
  } else {
    return std::nullopt;
  }
  const auto colon = path.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view host = path.substr(0, colon);
  const std::string_view port = path.substr(colon + 1);
  if (host.starts_with('[')) {
    if (!host.ends_with(']')) return std::nullopt;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    return std::nullopt;  // an IPv6 literal needs its brackets
  }
  if (host.empty() || host.find_first_of("/ \t") != std::string_view::npos) return std::nullopt;
  if (port.empty() || port.size() > 5 || port[0] == '0' ||
      port.find_first_not_of("0123456789") != std::string_view::npos ||
      std::stoul(std::string(port)) > 65535) {
    return std::nullopt;
  }
  t.host = host;
  t.port = port;
  return t;
}

// ---- Telnet ------------------------------------------------------------------

TelnetComPort::TelnetComPort() {
  for (const std::uint8_t o : {kComPort, kBinary}) {
    localAsked_[o] = true;
    Send(kWill, o);
  }
  for (const std::uint8_t o : {kBinary, kSga}) {
    remoteAsked_[o] = true;
    Send(kDo, o);
  }
}

void TelnetComPort::Send(std::uint8_t verb, std::uint8_t option) {
  outgoing.insert(outgoing.end(), {kIac, verb, option});
}

void TelnetComPort::EscapeData(std::span<const std::uint8_t> bytes,
                               std::vector<std::uint8_t>& out) {
  for (const std::uint8_t b : bytes) {
    out.push_back(b);
    if (b == kIac) out.push_back(kIac);
  }
}

void TelnetComPort::Command(std::uint8_t code, std::span<const std::uint8_t> value) {
  outgoing.insert(outgoing.end(), {kIac, kSb, kComPort, code});
  EscapeData(value, outgoing);
  outgoing.insert(outgoing.end(), {kIac, kSe});
}

void TelnetComPort::Feed(std::span<const std::uint8_t> in) {
  for (const std::uint8_t b : in) {
    switch (state_) {
      case State::kData:
        if (b == kIac) {
          state_ = State::kIac;
        } else {
          data.push_back(b);
        }
        break;
      case State::kIac:
        state_ = State::kData;
        if (b == kIac) {
          data.push_back(b);
        } else if (b >= kWill && b <= kDont) {
          verb_ = b;
          state_ = State::kVerb;
        } else if (b == kSb) {
          sb_.clear();
          state_ = State::kSb;
        }  // other commands (NOP, GA, ...) carry nothing for a serial line
        break;
      case State::kVerb:
        Verb(verb_, b);
        state_ = State::kData;
        break;
      case State::kSb:
        if (b == kIac) {
          state_ = State::kSbIac;
        } else if (sb_.size() < 64) {
          sb_.push_back(b);
        }
        break;
      case State::kSbIac:
        if (b == kIac) {
          if (sb_.size() < 64) sb_.push_back(b);
          state_ = State::kSb;
        } else {
          if (b == kSe) Subnegotiation();
          state_ = State::kData;
        }
        break;
    }
  }
}

void TelnetComPort::Verb(std::uint8_t verb, std::uint8_t option) {
  const bool wantLocal = option == kComPort || option == kBinary || option == kSga;
  const bool wantRemote = option == kBinary || option == kSga;
  switch (verb) {
    case kDo:
      if (!wantLocal) {
        if (!refused_[option]) Send(kWont, option);
        refused_[option] = true;
      } else if (!localOn_[option]) {
        if (!localAsked_[option]) Send(kWill, option);
        localOn_[option] = true;
      }
      localAsked_[option] = false;
      if (option == kComPort) comPort = ComPort::kAccepted;
      break;
    case kDont:
      if (localOn_[option]) Send(kWont, option);
      localOn_[option] = localAsked_[option] = false;
      if (option == kComPort) comPort = ComPort::kRefused;
      break;
    case kWill:
      if (!wantRemote) {
        if (!refused_[option]) Send(kDont, option);
        refused_[option] = true;
      } else if (!remoteOn_[option]) {
        if (!remoteAsked_[option]) Send(kDo, option);
        remoteOn_[option] = true;
      }
      remoteAsked_[option] = false;
      break;
    case kWont:
      if (remoteOn_[option]) Send(kDont, option);
      remoteOn_[option] = remoteAsked_[option] = false;
      break;
  }
}

void TelnetComPort::Subnegotiation() {
  if (sb_.size() < 2 || sb_[0] != kComPort || sb_[1] < kServer) return;
  const std::uint8_t code = static_cast<std::uint8_t>(sb_[1] - kServer);
  const std::span<const std::uint8_t> value(sb_.data() + 2, sb_.size() - 2);
  if (code == kNotifyLineState && !value.empty()) {
    lineState |= static_cast<std::uint8_t>(value[0] & kLineErrors);
  } else if (code == kSuspend) {
    suspended = true;
  } else if (code == kResume) {
    suspended = false;
  } else if (code == kSignature && value.empty()) {
    static constexpr std::uint8_t kName[] = {'v', 't', 'r', '4', '2', '2'};
    Command(kSignature, kName);
  } else if (code != kNotifyModemState && code < std::size(answers)) {
    answers[code].assign(value.begin(), value.end());
  }
}

// ---- the line -------------------------------------------------------------------

std::unique_ptr<NetLine> NetLine::Open(std::string_view path) {
  std::string why;
  auto line = Connected(path, why);
  if (!line) port::NoteFailure(std::move(why));
  return line;
}

std::unique_ptr<NetLine> NetLine::Connected(std::string_view path, std::string& why) {
  const auto target = ParseTarget(path);
  if (!target) {
    Fail(why, "not tcp://HOST:PORT or rfc2217://HOST:PORT");
    return nullptr;
  }
  std::string key =
      std::string(target->telnet ? "rfc2217://" : "tcp://") + target->host + ":" + target->port;
  {
    std::lock_guard lock(gOpenMutex);
    if (!OpenTargets().insert(key).second) {
      Fail(why, "already open in this process");
      return nullptr;
    }
  }
  // From here the destructor gives the target back.
  std::unique_ptr<NetLine> line(new NetLine(-1, key, target->telnet));
  line->fd_ = Connect(*target, why);
  if (line->fd_ < 0) return nullptr;
  if (!line->telnet_) return line;

  const bool answered = line->SendOwed() && line->PumpUntil(kNegotiateMs, [&] {
    return line->telnet_->comPort != TelnetComPort::ComPort::kAsked;
  });
  if (line->telnet_->comPort == TelnetComPort::ComPort::kAccepted) {
    line->telnet_->Command(kSetLineStateMask, std::span(&kLineErrors, 1));
    const std::uint8_t none = 0;
    line->telnet_->Command(kSetModemStateMask, std::span(&none, 1));
    if (line->SendOwed()) return line;
  }
  if (line->dead_) {
    const std::string said = Printable(line->telnet_->data);
    Fail(why, "the server closed the connection" + (said.empty() ? "" : ": " + said));
  } else if (line->telnet_->comPort == TelnetComPort::ComPort::kRefused) {
    Fail(why, "the server does not speak RFC 2217 (it refused the Com Port Control option)");
  } else if (!answered) {
    Fail(why, "the server does not speak RFC 2217 (no answer to the Com Port Control option in " +
                  std::to_string(kNegotiateMs / 1000) + " s; tcp:// reaches a raw port)");
  } else {
    Fail(why, "the server takes no more bytes");
  }
  return nullptr;
}

NetLine::NetLine(int fd, std::string key, bool telnet) : fd_(fd), key_(std::move(key)) {
  if (telnet) telnet_.emplace();
}

NetLine::~NetLine() {
  if (fd_ >= 0) ::close(fd_);
  std::lock_guard lock(gOpenMutex);
  OpenTargets().erase(key_);
}

bool NetLine::Pump() {
  if (dead_) port::NoteFailure(gone_);  // each failed call on any thread says why
  while (!dead_) {
    std::uint8_t buf[512];
    const auto got = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (got > 0) {
      const std::span<const std::uint8_t> in(buf, static_cast<std::size_t>(got));
      if (telnet_) {
        telnet_->Feed(in);
      } else {
        raw_.insert(raw_.end(), in.begin(), in.end());
      }
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    Died();  // closed by the server, or reset
  }
  return !dead_ && SendOwed();
}

void NetLine::Died() {
  dead_ = true;
  const std::string said = Printable(Data());
  gone_ = "connection lost" + (said.empty() ? "" : ": " + said);
  port::NoteFailure(gone_);
}

bool NetLine::SendOwed() {
  if (!telnet_ || telnet_->outgoing.empty()) return !dead_;
  std::vector<std::uint8_t> owed;
  owed.swap(telnet_->outgoing);
  return SendAll(owed, nullptr);
}

template <class Done>
bool NetLine::PumpUntil(int timeoutMs, Done done) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  while (Pump()) {
    if (done()) return true;
    pollfd p{fd_, POLLIN, 0};
    const int left = MsLeft(deadline);
    if (left == 0 || (::poll(&p, 1, left) < 0 && errno != EINTR)) return false;
  }
  return false;
}

bool NetLine::SendAll(std::span<const std::uint8_t> bytes, std::size_t* sent) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kWriteMs);
  std::size_t done = 0;
  while (done < bytes.size() && !dead_) {
    const auto put =
        ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      Died();
      break;
    }
    pollfd p{fd_, POLLOUT, 0};
    const int left = MsLeft(deadline);
    if (left == 0 || ::poll(&p, 1, left) == 0) {
      port::NoteFailure("the server took no byte for " + std::to_string(kWriteMs / 1000) + " s");
      break;
    }
  }
  if (sent != nullptr) *sent = done;
  return done == bytes.size();
}

std::optional<std::size_t> NetLine::ReadNow(std::span<std::uint8_t> buf, bool /*askGone*/) {
  auto& data = Data();
  if (data.empty() && !Pump()) return std::nullopt;
  const std::size_t count = std::min(buf.size(), data.size());
  std::copy_n(data.begin(), count, buf.begin());
  data.erase(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(count));
  return count;
}

std::optional<Micros> NetLine::WaitForBytes(Micros seenEmpty, Micros until) {
  const auto emptyUntil = port::WaitOnDescriptor(fd_, seenEmpty, until);
  if (!emptyUntil) {
    if (dead_) {
      port::NoteFailure(gone_);
    } else {
      Died();
    }
  }
  return emptyUntil;
}

bool NetLine::Write(std::span<const std::uint8_t> bytes, std::size_t& done) {
  done = 0;
  if (!Pump()) return false;
  if (!telnet_) return SendAll(bytes, &done);
  // The server asked us to hold our data: wait for it to resume, within the
  // same budget as a full transmit queue.
  if (telnet_->suspended && !PumpUntil(kWriteMs, [&] { return !telnet_->suspended; })) {
    if (!dead_) {
      port::NoteFailure("the server held our output (flow control) for " +
                        std::to_string(kWriteMs / 1000) + " s");
    }
    return false;
  }
  std::vector<std::uint8_t> escaped;
  TelnetComPort::EscapeData(bytes, escaped);
  std::size_t sent = 0;
  const bool ok = SendAll(escaped, &sent);
  // Count the caller's bytes whose escaped form left whole.
  for (std::size_t at = 0; done < bytes.size(); ++done) {
    at += bytes[done] == kIac ? 2u : 1u;
    if (at > sent) break;
  }
  return ok;
}

bool NetLine::Purge(DWORD flags) {
  if (!Pump()) return false;
  // A transmit purge leaves the server's buffer towards the line alone: what
  // is there was written, and the server may still be sending it (the
  // previous command) to its slower line. A raw port's sent bytes are beyond
  // recall anyway.
  if ((flags & PURGE_RXCLEAR) == 0) return true;
  Data().clear();
  if (!telnet_) return true;
  const std::uint8_t which = 1;  // the server's buffer towards us
  telnet_->Command(kPurgeData, std::span(&which, 1));
  if (!purgeAnswered_) return SendOwed();
  // The server purges in its own time: wait for its answer, so that the
  // purge cannot take the reply to the command that follows. What arrives
  // before the answer was sent before the purge: stale.
  auto& answer = telnet_->answers[kPurgeData];
  answer.clear();
  if (!SendOwed()) return false;
  purgeAnswered_ = PumpUntil(kAnswerMs, [&] { return !answer.empty(); });
  Data().clear();
  return !dead_;
}

bool NetLine::Apply(const DCB& dcb) {
  if (!telnet_) return !dead_;  // a raw port runs as the server is configured
  const DWORD baud = dcb.BaudRate;
  const std::uint8_t rate[] = {
      static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
      static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
  // The option numbers parity NONE, ODD, EVEN, MARK, SPACE from 1 and the
  // stop sizes 1, 2, 1.5 as 1, 2, 3.
  const std::uint8_t size = dcb.ByteSize;
  const auto parity = static_cast<std::uint8_t>(dcb.Parity + 1);
  const std::uint8_t stop = dcb.StopBits == ONESTOPBIT ? 1 : dcb.StopBits == TWOSTOPBITS ? 2 : 3;
  const std::uint8_t flow = dcb.fOutxCtsFlow != 0 ? 3 : dcb.fOutX != 0 ? 2 : 1;
  for (auto& a : telnet_->answers) a.clear();
  telnet_->Command(kSetBaud, rate);
  telnet_->Command(kSetDataSize, std::span(&size, 1));
  telnet_->Command(kSetParity, std::span(&parity, 1));
  telnet_->Command(kSetStopSize, std::span(&stop, 1));
  telnet_->Command(kSetControl, std::span(&flow, 1));
  const bool answered =
      SendOwed() && PumpUntil(kAnswerMs, [&] {
        return std::all_of(&telnet_->answers[kSetBaud], &telnet_->answers[kSetControl] + 1,
                           [](const auto& a) { return !a.empty(); });
      });
  if (!answered && !dead_) {
    port::NoteFailure("the server did not confirm the line settings within " +
                      std::to_string(kAnswerMs / 1000) + " s");
  }
  return answered;
}

bool NetLine::CheckErrors(LPDWORD errors, LPCOMSTAT stat) {
  if (!Pump()) return false;
  if (telnet_) {
    const std::uint8_t s = std::exchange(telnet_->lineState, 0);
    if (errors != nullptr) {
      *errors = ((s & 0x02) != 0 ? CE_OVERRUN : 0u) | ((s & 0x04) != 0 ? CE_RXPARITY : 0u) |
                ((s & 0x08) != 0 ? CE_FRAME : 0u) | ((s & 0x10) != 0 ? CE_BREAK : 0u);
    }
  }
  int unsent = 0;
  if (stat != nullptr) {
    stat->cbInQue = static_cast<DWORD>(Data().size());
    if (::ioctl(fd_, TIOCOUTQ, &unsent) == 0 && unsent > 0) {
      stat->cbOutQue = static_cast<DWORD>(unsent);
    }
  }
  return true;
}

}  // namespace vtr::platform::net

std::unique_ptr<vtr::platform::port::Backend> vtr::platform::port::OpenNetwork(
    const std::string& path) {
  return net::NetLine::Open(path);
}
