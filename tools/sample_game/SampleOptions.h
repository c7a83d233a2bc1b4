// Command line of zarn-sample-game.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace sample {

struct SampleOptions {
  std::string appId = "1001";
  std::string appKey = "zarn-demo-key";
  std::optional<std::string> productId;  // empty: the first product of the catalogue
  bool expectDecline = false;            // the simulated overlay declines the purchase
  std::chrono::milliseconds stepTimeout{std::chrono::seconds(20)};
};

struct ParsedCommandLine {
  SampleOptions options;
  bool showHelp = false;
  std::string error;  // non-empty: the command line was not understood
};

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText(const std::string& program);

}  // namespace sample
