// Decks behind a terminal server: vtrsim on a pseudo-terminal behind ser2net
// on 127.0.0.1, reached through tcp:// (raw) and rfc2217:// ports.
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "host/driver_binding.h"
#include "mci/mci_library.h"
#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "tests/integration/child_process.h"
#include "tests/support/driver_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr int kCom = 5;

std::string FindSer2net() {
  std::string path = vtr::test::Shell("PATH=\"$PATH:/usr/sbin:/sbin\" command -v ser2net");
  if (!path.empty()) path.pop_back();  // the newline
  return path;
}

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  return a;
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), len);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

bool Accepts(int port) {
  const sockaddr_in a = Loopback(port);
  for (const auto end = Clock::now() + 5s; Clock::now() < end; std::this_thread::sleep_for(20ms)) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    if (ok) return true;
  }
  return false;
}

// ser2net serving one terminal raw and with RFC 2217. Its own line settings
// (9600 baud, 2 stop bits) differ from the driver's, so that the ones the
// driver applies can be told apart on the terminal.
class Ser2net {
 public:
  Ser2net(std::string program, const std::string& tty) : program_(std::move(program)) {
    yaml_ = (dir_.Path() / "ser2net.yaml").string();
    std::ofstream(yaml_) << "%YAML 1.1\n---\n"
                         << "connection: &raw\n  accepter: tcp,127.0.0.1," << raw_
                         << "\n  connector: serialdev," << tty << ",9600n82,local\n"
                         << "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1,"
                         << telnet_ << "\n  connector: serialdev," << tty << ",9600n82,local\n";
    Start();
  }
  // Up when its control port answers (a probe of a data port would open
  // the terminal).
  void Start() {
    process_.emplace(program_, std::vector<std::string>{"-n", "-c", yaml_, "-p",
                                                        "127.0.0.1," + std::to_string(admin_)});
    ASSERT_TRUE(Accepts(admin_)) << "ser2net did not come up";
  }
  void Kill() {
    process_->Stop(SIGKILL);
    process_.reset();
  }
  std::string Url(bool telnet) const {
    return std::string(telnet ? "rfc2217" : "tcp") +
           "://127.0.0.1:" + std::to_string(telnet ? telnet_ : raw_);
  }

 private:
  std::string program_;
  vtr::test::TempProfileDir dir_;
  std::string yaml_;
  int raw_ = FreePort(), telnet_ = FreePort(), admin_ = FreePort();
  std::optional<vtr::test::ChildProcess> process_;
};

class NetTierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(VTRSIM_PATH, X_OK) != 0 || access(VTRCTL_PATH, X_OK) != 0) {
      GTEST_SKIP() << "vtrsim or vtrctl not built";
    }
    ser2net_ = FindSer2net();
    if (ser2net_.empty()) GTEST_SKIP() << "ser2net not installed (Debian package ser2net)";
    vtr::platform::UseRealClock();
  }
  void TearDown() override { vtr::platform::UnbindPort(kCom); }

  // A fresh deck; its terminal's path.
  std::string StartDeck() {
    sim_.emplace(VTRSIM_PATH, std::vector<std::string>{});
    return sim_->ReadLine();
  }

  std::string ser2net_;
  std::optional<vtr::test::ChildProcess> sim_;
};

// The end-to-end script of the Wine tier through vtrctl, each time against
// a fresh deck.
std::string Transcript(const std::string& port) {
  vtr::test::TempProfileDir profile;
  std::filesystem::copy_file(std::string(E2E_DIR) + "/vtr.ini", profile.IniPath());
  return vtr::test::Shell("VTR422_PROFILE_DIR='" + profile.Path().string() + "' '" + VTRCTL_PATH +
                          "' --port 'COM2=" + port + "' < '" + E2E_DIR + "/e2e_commands.txt' 2>&1");
}

TEST_F(NetTierTest, TranscriptsThroughSer2netEqualTheDirectOne) {
  const std::string direct = Transcript(StartDeck());
  ASSERT_NE(direct.find("close tape -> ok"), std::string::npos) << direct;
  for (const bool telnet : {false, true}) {
    Ser2net server(ser2net_, StartDeck());
    EXPECT_EQ(Transcript(server.Url(telnet)), direct) << server.Url(telnet);
  }
}

// The line dies under a waiting seek: the deck vanishes behind a direct
// terminal, or the server is killed. The seek ends within the bound as it
// does on a vanished terminal, the next command fails with the hardware
// error at once, and once the server is back a new open reconnects. The
// terminal shows whether the driver's line settings arrived.
TEST_F(NetTierTest, KilledServerFailsLikeAVanishedTerminalAndALaterOpenReconnects) {
  for (const char* mode : {"direct", "tcp", "rfc2217"}) {
    const bool telnet = mode == std::string("rfc2217");
    const std::string tty = StartDeck();
    std::optional<Ser2net> server;
    if (mode != std::string("direct")) server.emplace(ser2net_, tty);
    vtr::platform::BindPortPath(kCom, server ? server->Url(telnet) : tty);
    vtr::test::TempProfileDir profile;
    profile.WriteIni("[videotape]\nVTRID=19\nComPort=5\n");
    vtr::mci::MciLibrary lib(vtr::host::RealDriver());
    ASSERT_EQ(lib.SendString("open vcr alias tape").error, 0u) << mode;

    if (server) {
      termios t{};
      const int fd = open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      ASSERT_EQ(tcgetattr(fd, &t), 0);
      close(fd);
      // rfc2217: 38400 8O1 from the driver; raw: the server's own settings.
      EXPECT_EQ(cfgetospeed(&t), telnet ? B38400 : B9600) << mode;
      EXPECT_EQ((t.c_cflag & CSTOPB) != 0, !telnet) << mode;
    }

    auto seek = std::async(std::launch::async,
                           [&] { return lib.SendString("seek tape to 40000 wait").error; });
    std::this_thread::sleep_for(500ms);
    if (server) {
      server->Kill();
    } else {
      sim_->Stop(SIGKILL);
    }
    const auto died = Clock::now();
    ASSERT_EQ(seek.wait_for(10s), std::future_status::ready) << mode << ": the seek hangs";
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - died);
    std::printf("%s: the seek answered %lld ms after the line died\n", mode,
                static_cast<long long>(ms.count()));
    EXPECT_EQ(seek.get(), static_cast<MCIERROR>(MCIERR_HARDWARE)) << mode;
    EXPECT_EQ(lib.SendString("stop tape").error, static_cast<MCIERROR>(MCIERR_HARDWARE)) << mode;
    lib.SendString("close tape");
    if (!server) continue;

    server->Start();
    EXPECT_EQ(lib.SendString("open vcr alias tape").error, 0u) << mode;
    EXPECT_EQ(lib.SendString("status tape mode").error, 0u) << mode;
    EXPECT_EQ(lib.SendString("close tape").error, 0u) << mode;
  }
}

}  // namespace
