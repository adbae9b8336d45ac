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

// Reads from `fd` until `done` holds or `limit` passes.
template <class Done>
std::string ReadUntil(int fd, std::chrono::milliseconds limit, Done done) {
  std::string got;
  for (const auto end = Clock::now() + limit; !done(got) && Clock::now() < end;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char buf[16];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

TEST(VtrsimPty, AcknowledgesStopWithinASecond) {
  if (std::string(VTRSIM_PATH).empty() || access(VTRSIM_PATH, X_OK) != 0) {
    GTEST_SKIP() << "vtrsim program not built (expected at '" << VTRSIM_PATH << "')";
  }
  if (access("/dev/ptmx", R_OK | W_OK) != 0) GTEST_SKIP() << "no /dev/ptmx: no pseudo-terminals";
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    dup2(open("/dev/null", O_RDONLY), 0);
    execl(VTRSIM_PATH, VTRSIM_PATH, "--latency-ms", "2", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  // The first line the program prints is its terminal's path.
  std::string path = ReadUntil(out[0], std::chrono::seconds(5),
                               [](const std::string& s) { return s.find('\n') != s.npos; });
  path = path.substr(0, path.find('\n'));
  const int fd = path.empty() ? -1 : open(path.c_str(), O_RDWR | O_NOCTTY);
  EXPECT_GE(fd, 0) << "vtrsim printed no usable terminal path: '" << path << "'";
  std::string got;
  if (fd >= 0) {
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    const std::uint8_t stop[] = {0x20, 0x00, 0x20};
    EXPECT_EQ(write(fd, stop, sizeof stop), 3);
    got = ReadUntil(fd, std::chrono::seconds(1),
                    [](const std::string& r) { return r.size() >= 3; });
    close(fd);
  }
  EXPECT_EQ(got, std::string("\x10\x01\x11", 3));
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  close(out[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "clean exit on SIGTERM";
}

}  // namespace
