#include "SampleOptions.h"

#include <cmath>
#include <cstdlib>

namespace sample {
namespace {

// Seconds as a positive decimal number, at most a day; anything else is rejected.
std::optional<std::chrono::milliseconds> ParseSeconds(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400) {
    return std::nullopt;
  }
  return std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000)));
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine result;
  auto& opt = result.options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        result.error = arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string text;
    if (arg == "-h" || arg == "--help") {
      result.showHelp = true;
    } else if (arg == "--decline") {
      opt.expectDecline = true;
    } else if (arg == "--product") {
      if (!value(text)) return result;
      if (text.empty()) {
        result.error = "--product needs a non-empty product id";
        return result;
      }
      opt.productId = text;
    } else if (arg == "--app-id") {
      if (!value(opt.appId)) return result;
    } else if (arg == "--app-key") {
      if (!value(opt.appKey)) return result;
    } else if (arg == "--timeout") {
      if (!value(text)) return result;
      const auto timeout = ParseSeconds(text);
      if (!timeout) {
        result.error = "--timeout needs a positive number of seconds, got \"" + text + "\"";
        return result;
      }
      opt.stepTimeout = *timeout;
    } else {
      result.error = "unknown argument \"" + arg + "\"";
      return result;
    }
  }
  return result;
}

std::string UsageText(const std::string& program) {
  return "Usage: " + program +
         " [--product ID] [--decline] [--app-id ID] [--app-key KEY] [--timeout SECONDS]\n"
         "\n"
         "Walks a game's whole use of the Zarn SDK: Init, player identity, events, Login,\n"
         "QueryProducts, IsPayAvailable, CallPay, Logout and Exit, printing each answer.\n"
         "\n"
         "  --product ID       product to buy (default: the first one of the catalogue)\n"
         "  --decline          expect the purchase to be declined (payment status 0)\n"
         "  --app-id ID        application id given to Init (default 1001)\n"
         "  --app-key KEY      application key given to Init (default zarn-demo-key)\n"
         "  --timeout SECONDS  longest wait for each answer (default 20)\n"
         "\n"
         "Exit status: 0 when every step got the answer it expects, 1 otherwise, 2 for a bad\n"
         "command line.\n";
}

}  // namespace sample
