// The zarn-mock-backend program: options, the "listening" line, the origin file, and a clean
// stop on SIGTERM.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>


#include "MockRequestBodies.h"
#include "Harness.h"
#include "tools/mock_backend/ApiPaths.h"

extern char** environ;

using namespace mocktest;
using namespace std::chrono_literals;
namespace paths = zarnmock::paths;

namespace {

// A child process with its standard output on a pipe.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    args.insert(args.begin(), ZARN_MOCK_BACKEND_EXE);
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
    if (error != 0) throw std::runtime_error("posix_spawn failed");
  }
  ~Program() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
  }

  // The first line of standard output, or what arrived before the deadline.
  std::string ReadLine(std::chrono::milliseconds timeout = 20s) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (line.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd pfd{out_, POLLIN, 0};
      if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
      char c[256];
      const ssize_t n = read(out_, c, sizeof c);
      if (n <= 0) break;
      line.append(c, static_cast<size_t>(n));
    }
    return line.substr(0, line.find('\n'));
  }

  void Signal(int signal) { kill(pid_, signal); }

  // Exit status once the process ended, -1 if it did not within the timeout.
  int Wait(std::chrono::milliseconds timeout = 20s) {
    int status = 0;
    const bool ended = zarntest::WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
    if (!ended) return -1;
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
};

// The port at the end of `line` after exactly `prefix`, or -1.
int PortOf(const std::string& line, const std::string& prefix) {
  if (line.rfind(prefix, 0) != 0 || line.size() == prefix.size() || line.size() > prefix.size() + 5) return -1;
  const std::string digits = line.substr(prefix.size());
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
  }
  return std::stoi(digits);
}

}  // namespace

TEST(MockBackendProgram, ListensAnswersAndStopsOnSigterm) {
  zarntest::TempDir dir;
  const auto originFile = dir.path() / "origin.txt";
  const auto recordFile = dir.path() / "records.jsonl";
  Program program({"--plain", "--app-key", "other-key", "--origin-file", originFile.string(), "--record",
                   recordFile.string(), "--pay-status", "0"});
  const std::string line = program.ReadLine();
  const int port = PortOf(line, "zarn-mock-backend listening on http://127.0.0.1:");
  ASSERT_GT(port, 0) << line;
  EXPECT_EQ(zarntest::ReadFile(originFile), "http://127.0.0.1:" + std::to_string(port));

  httplib::Client client("127.0.0.1", port);
  // MD5("10086" "other-key" "c0ffee-client" "Windows" "SteamEXE_2.0.0" "html5" "html5")
  auto result = PostForm(client, paths::kClientConfig, kCommon + "&osign=99226eb00e842e247d70de62ae62d77a");
  ASSERT_TRUE(result);
  EXPECT_EQ(nlohmann::json::parse(result->body)["code"], 200);

  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(), 0);
  EXPECT_NE(zarntest::ReadFile(recordFile).find(R"("ok":true)"), std::string::npos);
}

TEST(MockBackendProgram, HttpsWithAuthorityFileSteamSimFolderAndSigint) {
  zarntest::TempDir dir;
  const auto caFile = dir.path() / "ca.pem";
  zarntest::TempDir steamSim;
  zarntest::ScopedEnv steamSimDir("ZARN_STEAMSIM_DIR", steamSim.str());
  Program program({"--ca-out", caFile.string()});
  const std::string line = program.ReadLine();
  const int port = PortOf(line, "zarn-mock-backend listening on https://127.0.0.1:");
  ASSERT_GT(port, 0) << line;
  httplib::SSLClient client("127.0.0.1", port);
  client.set_ca_cert_path(caFile.string().c_str());
  client.enable_server_certificate_verification(true);
  auto result = PostForm(client, paths::kCreateOrder, kOrderBody);
  ASSERT_TRUE(result) << httplib::to_string(result.error());
  const std::string steamOrderId = nlohmann::json::parse(result->body)["extInfo"]["steamOrderId"];
  // The file is in place before the answer leaves.
  EXPECT_EQ(zarntest::ReadFile(steamSim.path() / (steamOrderId + ".json")),
            R"({"appId":480,"orderId":")" + steamOrderId + "\"}");
  program.Signal(SIGINT);
  EXPECT_EQ(program.Wait(), 0);
}

TEST(MockBackendProgram, RefusesBadOptions) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--bogus"}, {"--port", "70000"}, {"--port"}, {"--pay-status", "x"}}) {
    Program program(args);
    EXPECT_EQ(program.Wait(), 2) << args[0];
  }
}
