// zarn-mock-backend: the mock API server as a program, for people and the sample game.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "tools/mock_backend/MockBackend.h"
#include "tools/mock_backend/ProcessSignals.h"

namespace {

constexpr char kUsage[] =
    "usage: zarn-mock-backend [--port N] [--plain] [--app-key KEY] [--ca-out FILE] [--origin-file FILE]\n"
    "                         [--record FILE] [--catalogue FILE] [--steamsim-dir DIR] [--pay-status N]\n"
    "                         [--threads N] [--events-outage SECONDS [--events-outage-status N]\n"
    "                         [--events-retry-after TEXT]]\n"
    "  --port N          listen on 127.0.0.1:N (default: a free port)\n"
    "  --plain           plain HTTP instead of HTTPS\n"
    "  --app-key KEY     app key for every appId (default: zarn-demo-key)\n"
    "  --ca-out FILE     write the certificate authority (PEM) there, for SSL_CERT_FILE\n"
    "  --origin-file F   write the origin (scheme://127.0.0.1:port) to F once listening\n"
    "  --record FILE     append one JSON line per request\n"
    "  --catalogue FILE  product catalogue JSON (default: the built-in catalogue)\n"
    "  --steamsim-dir D  drop a Steam transaction file per order (default: $ZARN_STEAMSIM_DIR)\n"
    "  --pay-status N    \"status\" answered to payment results (default: 1)\n"
    "  --threads N       answering threads (default: 32); each idle kept-alive connection holds one\n"
    "  --events-outage SECONDS\n"
    "                    from each POST to /mock/events-outage, answer every analytics request\n"
    "                    with a failure for that long, then normally again\n"
    "  --events-outage-status N   the failure's HTTP status (default: 503)\n"
    "  --events-retry-after TEXT  send \"Retry-After: TEXT\" with the failure (default: none)\n";

int ParseInt(const std::string& flag, const std::string& text, int low, int high) {
  size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || value < low || value > high) {
    throw std::invalid_argument(flag + " needs a number from " + std::to_string(low) + " to " + std::to_string(high));
  }
  return value;
}

// The origin alone, no line break. Written under a temporary name and renamed, so a script
// polling for it never reads half.
void WriteOriginFile(const std::string& path, const std::string& origin) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << origin;
    if (!out.flush()) throw std::runtime_error("cannot write " + temporary);
  }
  std::filesystem::rename(temporary, path);
}

}  // namespace

int main(int argc, char** argv) {
  zarnmock::MockOptions options;
  std::string originFile;
  bool steamSimGiven = false;
  zarnmock::MockOptions::Outage outage;  // used when its length is given
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string flag = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument(flag + " needs a value");
        return argv[++i];
      };
      if (flag == "--port") {
        options.port = ParseInt(flag, value(), 1, 65535);
      } else if (flag == "--plain") {
        options.plainHttp = true;
      } else if (flag == "--app-key") {
        options.defaultAppKey = value();
      } else if (flag == "--ca-out") {
        options.caCertFile = value();
      } else if (flag == "--origin-file") {
        originFile = value();
      } else if (flag == "--record") {
        options.recordFile = value();
      } else if (flag == "--catalogue") {
        options.catalogueFile = value();
      } else if (flag == "--steamsim-dir") {
        options.steamSimDir = value();
        steamSimGiven = true;
      } else if (flag == "--pay-status") {
        options.payStatus = ParseInt(flag, value(), -2147483647, 2147483647);
      } else if (flag == "--threads") {
        options.serverThreads = static_cast<size_t>(ParseInt(flag, value(), 1, 10000));
      } else if (flag == "--events-outage") {
        outage.length = std::chrono::seconds(ParseInt(flag, value(), 1, 86400));
      } else if (flag == "--events-outage-status") {
        outage.httpStatus = ParseInt(flag, value(), 400, 599);
      } else if (flag == "--events-retry-after") {
        outage.retryAfter = value();
      } else if (flag == "--help" || flag == "-h") {
        std::cout << kUsage;
        return 0;
      } else {
        throw std::invalid_argument("unknown option " + flag);
      }
    }
    if (outage.length.count() > 0) {
      options.eventsOutage = outage;
    } else if (outage.httpStatus != 503 || !outage.retryAfter.empty()) {
      throw std::invalid_argument("--events-outage-status and --events-retry-after need --events-outage");
    }
  } catch (const std::exception& error) {
    std::cerr << "zarn-mock-backend: " << error.what() << '\n' << kUsage;
    return 2;
  }
  if (!steamSimGiven) {
    if (const char* dir = std::getenv("ZARN_STEAMSIM_DIR")) options.steamSimDir = dir;
  }

  zarnmock::PrepareForStopRequests();

  try {
    zarnmock::MockBackend backend(options);
    backend.Start();
    // The file first: whoever sees the line may rely on the file being there.
    if (!originFile.empty()) WriteOriginFile(originFile, backend.Origin());
    std::cout << "zarn-mock-backend listening on " << backend.Origin() << std::endl;
    if (!options.plainHttp) std::cerr << "zarn-mock-backend: certificate authority in " << backend.CaCertFile() << std::endl;
    zarnmock::WaitForStopRequest();
    backend.Stop();
  } catch (const std::exception& error) {
    std::cerr << "zarn-mock-backend: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
