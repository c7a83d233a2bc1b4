#include "bench/support/MockProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace zarnbench {
namespace {

constexpr char kOutagePath[] = "/mock/events-outage";

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

MockProcess::MockProcess(const std::string& program, const std::string& folder, bool tls,
                         const std::vector<std::string>& extraArgs) {
  std::filesystem::create_directories(folder);
  const std::string originFile = folder + "/origin";
  recordFile_ = folder + "/requests.jsonl";
  ChildOptions options;
  options.args = {"--origin-file", originFile, "--record", recordFile_};
  if (tls) {
    caFile_ = folder + "/ca.pem";
    options.args.insert(options.args.end(), {"--ca-out", caFile_});
  } else {
    options.args.push_back("--plain");
  }
  options.args.insert(options.args.end(), extraArgs.begin(), extraArgs.end());
  options.logFile = folder + "/mock.log";
  process_ = std::make_unique<ChildProcess>(program, std::move(options));

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!std::filesystem::exists(originFile)) {
    if (!process_->Running() || process_->Wait(std::chrono::milliseconds(20))) {
      throw std::runtime_error("the mock backend ended at start; see " + folder + "/mock.log");
    }
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("the mock backend did not start");
  }
  origin_ = ReadWhole(originFile);
}

MockProcess::~MockProcess() { Stop(); }

void MockProcess::StartEventsOutage() const {
  const size_t colon = origin_.rfind(':');
  if (origin_.rfind("http://127.0.0.1:", 0) != 0 || colon == std::string::npos) {
    throw std::runtime_error("the outage is started over plain HTTP only");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::stoi(origin_.substr(colon + 1))));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::string reply;
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = std::string("POST ") + kOutagePath +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
      char buffer[1024];
      for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, static_cast<size_t>(got));
    }
  }
  if (fd >= 0) ::close(fd);
  if (reply.rfind("HTTP/1.1 200", 0) != 0) throw std::runtime_error("the mock did not start its outage: " + reply);
}

void MockProcess::Stop() {
  if (!process_) return;
  process_->Signal(SIGTERM);
  if (!process_->Wait(std::chrono::seconds(20))) process_->Kill();
  cpuSeconds_ = process_->CpuSeconds();
  process_.reset();
}

std::vector<std::string> LineTail::NewLines() {
  std::vector<std::string> lines;
  std::ifstream in(path_, std::ios::binary);
  if (!in) return lines;
  in.seekg(offset_);
  std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  offset_ += static_cast<long long>(chunk.size());
  partial_ += chunk;
  size_t start = 0;
  for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(partial_.substr(start, end - start));
  }
  partial_.erase(0, start);
  return lines;
}

}  // namespace zarnbench
