// A program the test runs beside itself (vtrsim, ser2net): its standard
// output comes back through a pipe, and it never outlives the test. And a
// shell command's output.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace vtr::test {

class ChildProcess {
 public:
  // `errPath`, when given, receives the program's standard error.
  ChildProcess(const std::string& path, std::vector<std::string> args,
               const std::string& errPath = "") {
    int out[2];
    if (pipe(out) != 0) return;
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      const int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 0);
      const int err =
          errPath.empty() ? devnull : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(err >= 0 ? err : devnull, 2);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~ChildProcess() {
    Stop(SIGTERM);
    if (out_ >= 0) close(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Sends `sig` and reaps the child; one that does not go within a second
  // is killed.
  void Stop(int sig) {
    if (pid_ <= 0) return;
    kill(pid_, sig);
    int waits = 0;
    while (waitpid(pid_, nullptr, WNOHANG) == 0 && ++waits < 100) usleep(10000);
    if (waits == 100) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

  // The next line of output; empty when none comes within `limit`.
  std::string ReadLine(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (out_ >= 0 && std::chrono::steady_clock::now() < end) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char c;
      if (read(out_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return {};
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

// What `command` prints on its standard output.
inline std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n = 0; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

}  // namespace vtr::test
