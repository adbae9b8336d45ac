// Profile writes against other processes: a writer killed at any moment
// leaves a whole file, and concurrent writers lose no keys.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/platform/temp_dir.h"

namespace {

using vtr::test::TempDir;

// A save writes many keys at once: the file holds all of one save or all of
// the one before, never part of each.
TEST(ProfileProcessTest, WriterKilledMidWriteLeavesOldOrNewFile) {
  TempDir dir;
  const std::string file = dir.path() + "/VTR.INI";
  std::ofstream(file, std::ios::binary)
      << "; keep\r\n[videotape]\r\nPreRoll=0\r\nTail=x\r\nPostRoll=0\r\n";
  // Every complete state of the file: the three numbers are one save's.
  const std::regex whole(
      R"(; keep\r\n\[videotape\]\r\nPreRoll=(\d+)\r\nTail=x\r\nPostRoll=\1\r\nEditIn=\1\r\n)");

  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> killAfterUs(0, 3000);
  for (int round = 0; round < 25; ++round) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(ready[0]);
      for (int i = 1;; ++i) {
        const std::string v = std::to_string(i);
        const ProfileKeyValue save[] = {
            {"PreRoll", v.c_str()}, {"PostRoll", v.c_str()}, {"EditIn", v.c_str()}};
        WritePrivateProfileKeys("videotape", save, 3, file.c_str());
        if (i == 1) (void)!write(ready[1], "r", 1);
      }
    }
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    // Kill at a random point of the write loop (a busy wait, not a sleep).
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::microseconds(killAfterUs(rng));
    while (std::chrono::steady_clock::now() < until) {
    }
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);

    const std::string text = vtr::test::ReadAll(file);
    ASSERT_TRUE(std::regex_match(text, whole)) << "round " << round << ": " << text;
  }
}

TEST(ProfileProcessTest, ConcurrentWritersLoseNoKeys) {
  TempDir dir;
  const std::string file = dir.path() + "/VTR.INI";
  constexpr int kKeys = 30;
  const auto key = [](int w, int k) { return "W" + std::to_string(w) + "K" + std::to_string(k); };
  // Two writers share a section, the third has its own.
  const auto section = [](int w) { return w == 2 ? "videotape1" : "videotape"; };
  pid_t children[3];
  for (int w = 0; w < 3; ++w) {
    children[w] = fork();
    ASSERT_GE(children[w], 0);
    if (children[w] == 0) {
      bool ok = true;
      for (int k = 0; k < kKeys; ++k) {
        const std::string value = std::to_string(w * 100 + k);
        ok &= WritePrivateProfileStringA(section(w), key(w, k).c_str(), value.c_str(),
                                         file.c_str()) == TRUE;
      }
      _exit(ok ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int w = 0; w < 3; ++w) {
    for (int k = 0; k < kKeys; ++k) {
      EXPECT_EQ(
          static_cast<int>(GetPrivateProfileIntA(section(w), key(w, k).c_str(), -1, file.c_str())),
          w * 100 + k)
          << key(w, k);
    }
  }
}

}  // namespace
