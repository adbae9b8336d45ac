// The vtrsim program on a real pseudo-terminal, in real time.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#ifndef VTRSIM_PATH
#define VTRSIM_PATH ""
#endif

namespace {

using Clock = std::chrono::steady_clock;

class VtrsimProcess {
 public:
  bool Start() {
    int out[2];
    if (pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      const int devnull = open("/dev/null", O_RDONLY);
      dup2(devnull, 0);
      execl(VTRSIM_PATH, VTRSIM_PATH, "--latency-ms", "2", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
    return pid_ > 0;
  }
  // The first line the program prints, within `limit`.
  std::string FirstLine(std::chrono::milliseconds limit) {
    std::string line;
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char c;
      if (read(out_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return {};
  }
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~VtrsimProcess() {
    Stop();
    if (out_ >= 0) close(out_);
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

TEST(VtrsimPty, AcknowledgesStopWithinASecond) {
  if (std::string(VTRSIM_PATH).empty() || access(VTRSIM_PATH, X_OK) != 0) {
    GTEST_SKIP() << "vtrsim program not built (expected at '" << VTRSIM_PATH << "')";
  }
  if (access("/dev/ptmx", R_OK | W_OK) != 0) GTEST_SKIP() << "no /dev/ptmx: no pseudo-terminals";
  VtrsimProcess sim;
  ASSERT_TRUE(sim.Start());
  const std::string path = sim.FirstLine(std::chrono::seconds(5));
  ASSERT_FALSE(path.empty()) << "vtrsim printed no terminal path";
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0) << path;
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);

  const std::uint8_t stop[] = {0x20, 0x00, 0x20};
  ASSERT_EQ(write(fd, stop, sizeof stop), 3);
  std::vector<std::uint8_t> got;
  const auto end = Clock::now() + std::chrono::seconds(1);
  while (got.size() < 3 && Clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    std::uint8_t buf[16];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) got.insert(got.end(), buf, buf + n);
  }
  close(fd);
  EXPECT_EQ(got, (std::vector<std::uint8_t>{0x10, 0x01, 0x11}));
  EXPECT_EQ(sim.Stop(), 0) << "clean exit on SIGTERM";
}

}  // namespace
