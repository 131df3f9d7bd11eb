// A live streamerd shaken for a minute with random and mutated frames (the
// sanitizer build's daemon reports leaks and memory errors on its standard
// error): it answers a valid request after every connection of junk, still
// answers correctly at the end, and exits cleanly without any report.
// VLTEST_FUZZ_SEED chooses another seed; a failure names the seed.
#include "ipc_control.h"
#include "ipc_fuzz.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto fuzz_time = 60s;
constexpr uint32_t default_seed = 20250611;

uint32_t seed() {
  const char* text = std::getenv("VLTEST_FUZZ_SEED");
  return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : default_seed;
}

// A control connection that throws bytes at the server and discards what
// comes back, so that neither side's buffers fill up.
class JunkConnection {
 public:
  JunkConnection(const vltest::NetLab& lab, const char* address) {
    lab.run_in(vltest::NetLab::B, [&] { fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); });
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(42538);
    server.sin_addr.s_addr = inet_addr(address);
    connected_ = connect(fd_, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0;
  }
  ~JunkConnection() { close(fd_); }
  JunkConnection(const JunkConnection&) = delete;
  JunkConnection& operator=(const JunkConnection&) = delete;

  bool connected() const { return connected_; }

  // False when the server closed the connection or took nothing for 5 s.
  bool send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      pollfd p{fd_, POLLIN | POLLOUT, 0};
      if (poll(&p, 1, 5000) <= 0 || (p.revents & (POLLERR | POLLHUP))) return false;
      if ((p.revents & POLLIN) && !drain()) return false;
      if (!(p.revents & POLLOUT)) continue;
      const ssize_t sent = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
      if (sent > 0) done += static_cast<std::size_t>(sent);
    }
    return drain();
  }

 private:
  // Reads what is there; false when the server closed.
  bool drain() {
    char buffer[65536];
    for (;;) {
      const ssize_t got = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got > 0) continue;
      return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }

  int fd_ = -1;
  bool connected_ = false;
};

// The daemon in host A; each episode of junk has a connection of its own
// from host B.
class FrameFuzz : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    ASSERT_TRUE(daemon_.wait_started()) << daemon_.process().output();
  }

  // A new client gets the answer of the command that has no effect.
  bool still_answers() {
    const bool answered =
        control_.connect() && control_.answer(16, "{}") == R"({"command": 16, "parameter": null})";
    control_.disconnect();
    return answered;
  }

  vltest::NetLab lab_;
  ipc_control::Controlled control_{lab_, vltest::NetLab::A};
  vltest::Daemon& daemon_ = control_.daemon();
};

TEST_F(FrameFuzz, TheDaemonSurvivesAMinuteOfJunkAndLeaksNothing) {
  SCOPED_TRACE("VLTEST_FUZZ_SEED=" + std::to_string(seed()));
  ipcfuzz::FrameFuzzer fuzzer(seed());
  int episodes = 0;
  for (const auto end = Clock::now() + fuzz_time; Clock::now() < end; ++episodes) {
    const std::vector<std::string> frames = fuzzer.episode();
    {
      JunkConnection junk(lab_, daemon_.address());
      ASSERT_TRUE(junk.connected()) << "episode " << episodes;
      for (const std::string& frame : frames)
        if (!junk.send(frame)) break;
    }
    if (!still_answers()) {
      std::string shown;
      for (const std::string& frame : frames) shown += ipcfuzz::printable(frame) + "\n";
      FAIL() << "no answer after episode " << episodes << " of frames:\n" << shown << daemon_.error_output();
    }
  }
  RecordProperty("episodes", episodes);

  ASSERT_TRUE(control_.connect());

  EXPECT_EQ(control_.answer(18, R"({"log_category": "velanto.fuzz.end", "log_priority": 600})"),
            R"({"command": 18, "parameter": null})");
  EXPECT_EQ(control_.answer(22, R"({"event_id": 250, "event_originator": "fuzz_end", "event_exclusive": 1})"),
            R"({"command": 22, "parameter": {}})");
  EXPECT_TRUE(control_.answer(21, "{}").starts_with(R"({"command": 21, "parameter": {"ptp_status": {)"));
  EXPECT_TRUE(ipc_control::refused(control_.answer(17, R"({"audio_device_name": "NoSuchDevice"})"), 17, 19,
                                   "Requested audio device not found."));

  EXPECT_TRUE(control_.stop());
  const std::string errors = daemon_.error_output();
  EXPECT_EQ(errors.find("LeakSanitizer"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("AddressSanitizer"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
}

}  // namespace
