#include "tests/platform/uart_pty.h"

#include <dlfcn.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <map>
#include <utility>

namespace vtr::test {

struct UartCounts {
  std::atomic<std::size_t> written{0};
  std::atomic<std::size_t> taken{0};
};

namespace {

std::mutex gMutex;
std::atomic<int> gModels{0};
std::map<dev_t, std::shared_ptr<UartCounts>>& Models() {
  static std::map<dev_t, std::shared_ptr<UartCounts>> models;
  return models;
}

}  // namespace

// The counts of a modelled slave open at `fd`, or null.
std::shared_ptr<UartCounts> CountsOf(int fd) {
  if (gModels.load() == 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return nullptr;
  std::lock_guard lock(gMutex);
  const auto it = Models().find(st.st_rdev);
  return it == Models().end() ? nullptr : it->second;
}

UartModel::UartModel(const std::string& slave) : counts_(std::make_shared<UartCounts>()) {
  struct stat st {};
  if (::stat(slave.c_str(), &st) != 0) return;
  rdev_ = st.st_rdev;
  std::lock_guard lock(gMutex);
  Models()[rdev_] = counts_;
  ++gModels;
}

UartModel::~UartModel() {
  std::lock_guard lock(gMutex);
  if (Models().erase(rdev_) != 0) --gModels;
}

void UartModel::Taken(std::size_t n) { counts_->taken += n; }

UartPty::UartPty(bool paced) {
  if (!pty_.ok() || !paced) return;
  model_ = std::make_unique<UartModel>(pty_.slave());
  thread_ = std::thread([this] { Line(); });
}

void UartPty::HangUp() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  model_.reset();
  pty_.CloseMaster();
}

std::vector<std::uint8_t> UartPty::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(taken_, {});
}

std::size_t UartPty::TakenCount() const {
  std::lock_guard lock(mutex_);
  return count_;
}

void UartPty::Line() {
  while (!stop_) {
    pollfd p{pty_.master(), POLLIN, 0};
    if (::poll(&p, 1, 5) != 1 || (p.revents & POLLIN) == 0) continue;
    // The byte is on the wire for a byte time before the far end has it.
    std::this_thread::sleep_for(kUartByteTime);
    std::uint8_t b = 0;
    if (::read(pty_.master(), &b, 1) != 1) continue;
    std::lock_guard lock(mutex_);
    taken_.push_back(b);
    ++count_;
    model_->Taken(1);
  }
}

}  // namespace vtr::test

// The C library's write and ioctl, with the transmit queue of a modelled
// slave: bytes written to it and not yet taken by its far end.
extern "C" ssize_t write(int fd, const void* buf, size_t n) {
  using Write = ssize_t (*)(int, const void*, size_t);
  static const auto real = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
  const ssize_t put = real(fd, buf, n);
  if (put > 0) {
    if (const auto counts = vtr::test::CountsOf(fd)) counts->written += static_cast<size_t>(put);
  }
  return put;
}

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  using Ioctl = int (*)(int, unsigned long, ...);
  static const auto real = reinterpret_cast<Ioctl>(::dlsym(RTLD_NEXT, "ioctl"));
  if (request == TIOCOUTQ) {
    if (const auto counts = vtr::test::CountsOf(fd)) {
      const std::size_t written = counts->written, taken = counts->taken;
      *static_cast<int*>(arg) = static_cast<int>(written > taken ? written - taken : 0);
      return 0;
    }
  }
  return real(fd, request, arg);
}
