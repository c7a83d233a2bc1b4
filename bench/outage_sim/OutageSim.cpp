// zarn-outage-sim: what many players' games do to the publisher's server while its analytics
// endpoint is down and when it comes back, measured from the server's side.
//
// It starts the mock backend (plain HTTP, recording every request) and N real game processes
// (zarn-outage-game, each its own state folder and client id, with the stand-in Steam client).
// Once every game has started, the mock's analytics endpoint fails (503 by default, with or
// without "Retry-After") for T seconds and every game posts E events at once; then the endpoint
// recovers, and the simulation waits until every event has arrived (or the drain limit passed),
// ends each game with Exit and reports from the mock's request log.
//
// Run it from a build folder:
//   bench/outage_sim/zarn-outage-sim --clients 20 --events 200 --outage 15 --retry-after 10
//   bench/outage_sim/zarn-outage-sim --clients 100 --events 200 --outage 15
// To measure another build of the SDK in the same session, point the same games at its library:
//   ... --sdk-lib /path/to/other-build/proxy      (the folder of its libzarnsdk64_mt.so)
// Exit status: 0 when every game started and exited and no event was lost, 1 otherwise, 2 for
// bad options.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/support/ChildProcess.h"
#include "bench/support/MockProcess.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kAnalyticsPath[] = "/data/h5/v1.do";
constexpr char kOutagePath[] = "/mock/events-outage";

constexpr char kUsage[] =
    "usage: zarn-outage-sim [--clients N] [--events E] [--outage T] [--retry-after S]\n"
    "                       [--outage-status CODE] [--drain D] [--sdk-lib DIR] [--game PROGRAM]\n"
    "                       [--mock PROGRAM] [--run-dir DIR] [--keep]\n"
    "  --clients N        game processes (default 20)\n"
    "  --events E         events each game posts when the outage begins (default 200)\n"
    "  --outage T         seconds the analytics endpoint fails (default 15)\n"
    "  --retry-after S    its failures carry \"Retry-After: S\" (default: none)\n"
    "  --outage-status C  the failures' HTTP status (default 503)\n"
    "  --drain D          seconds after the recovery to wait for every event (default 120)\n"
    "  --sdk-lib DIR      the games load libzarnsdk64_mt.so from DIR (default: this build's)\n"
    "  --game PROGRAM     the game program (default: this build's zarn-outage-game)\n"
    "  --mock PROGRAM     the mock backend (default: this build's zarn-mock-backend)\n"
    "  --run-dir DIR      where the run's files go (default: a new folder under /tmp)\n"
    "  --keep             keep the run's files (kept anyway when the run fails)\n";

struct Options {
  int clients = 20;
  int events = 200;
  int outageSeconds = 15;
  std::string retryAfter;
  int outageStatus = 503;
  int drainSeconds = 120;
  std::string sdkLib;
  std::string game = ZARN_OUTAGE_GAME_EXE;
  std::string mock = ZARN_MOCK_BACKEND_EXE;
  std::string runDir;
  bool keep = false;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(flag + " needs a value");
      return argv[++i];
    };
    auto number = [&](int low, int high) {
      const std::string text = value();
      size_t used = 0;
      int parsed = 0;
      try {
        parsed = std::stoi(text, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used != text.size() || parsed < low || parsed > high) {
        throw std::invalid_argument(flag + " needs a number from " + std::to_string(low) + " to " + std::to_string(high));
      }
      return parsed;
    };
    if (flag == "--clients") options.clients = number(1, 1000);
    else if (flag == "--events") options.events = number(0, 1000000);
    else if (flag == "--outage") options.outageSeconds = number(1, 86400);
    else if (flag == "--retry-after") options.retryAfter = value();
    else if (flag == "--outage-status") options.outageStatus = number(400, 599);
    else if (flag == "--drain") options.drainSeconds = number(0, 86400);
    else if (flag == "--sdk-lib") options.sdkLib = fs::absolute(value()).string();
    else if (flag == "--game") options.game = fs::absolute(value()).string();
    else if (flag == "--mock") options.mock = fs::absolute(value()).string();
    else if (flag == "--run-dir") options.runDir = fs::absolute(value()).string();
    else if (flag == "--keep") options.keep = true;
    else throw std::invalid_argument(flag == "--help" || flag == "-h" ? "" : "unknown option " + flag);
  }
  return options;
}

// One analytics request as the mock recorded it.
struct EventRequest {
  int64_t ms = 0;
  int status = 0;
  std::string deviceId, eventOrder;
  int simClient = -1, simSeq = -1;  // the game's own marks; -1 for the SDK's own events
};

// The mock's request log, read as it grows.
class RequestLogReader {
 public:
  explicit RequestLogReader(const std::string& path) : tail_(path) {}

  void Update() {
    for (const std::string& line : tail_.NewLines()) {
      const auto record = nlohmann::json::parse(line, nullptr, false);
      if (!record.is_object()) continue;
      const std::string path = record.value("path", "");
      if (path == kOutagePath) outageStartMs = record.value("receivedMs", int64_t{0});
      if (path != kAnalyticsPath) continue;
      EventRequest request;
      request.ms = record.value("receivedMs", int64_t{0});
      request.status = record.value("replyStatus", 0);
      request.deviceId = record.value("deviceId", "");
      request.eventOrder = record.value("eventOrder", "");
      const auto body = nlohmann::json::parse(record.value("body", ""), nullptr, false);
      if (body.is_object() && body.contains("context") && body["context"].is_object()) {
        const auto& context = body["context"];
        request.simClient = context.value("simClient", -1);
        request.simSeq = context.value("simSeq", -1);
      }
      if (request.status == 200 && request.simSeq > 0) delivered.insert({request.simClient, request.simSeq});
      if (request.status == 200 && request.simSeq < 0) ++sdkEventsAnswered;
      requests.push_back(std::move(request));
    }
  }

  std::vector<EventRequest> requests;
  std::set<std::pair<int, int>> delivered;  // the games' events answered 200 at least once
  size_t sdkEventsAnswered = 0;
  std::optional<int64_t> outageStartMs;

 private:
  zarnbench::LineTail tail_;
};

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// Requests per second of [from, to), one count per second.
std::vector<int> PerSecond(const std::vector<EventRequest>& requests, int64_t from, int64_t to) {
  std::vector<int> counts(static_cast<size_t>(std::max<int64_t>(0, (to - from + 999) / 1000)), 0);
  for (const EventRequest& request : requests) {
    if (request.ms >= from && request.ms < to) ++counts[static_cast<size_t>((request.ms - from) / 1000)];
  }
  return counts;
}

std::string Join(const std::vector<int>& counts) {
  std::ostringstream text;
  for (size_t i = 0; i < counts.size(); ++i) text << (i ? " " : "") << counts[i];
  return text.str();
}

std::string Fixed(double value, int decimals = 1) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// The report from the server's side. Returns the number of the games' events never answered 200.
size_t Report(const Options& options, const RequestLogReader& log, int64_t outageStart) {
  const int64_t recovery = outageStart + int64_t{options.outageSeconds} * 1000;
  std::map<std::string, int> perClient;
  std::set<std::string> devices;
  size_t duringOutage = 0, afterRecovery = 0;
  for (const EventRequest& request : log.requests) {
    devices.insert(request.deviceId);
    if (request.ms >= outageStart && request.ms < recovery) {
      ++perClient[request.deviceId];
      ++duringOutage;
    } else if (request.ms >= recovery) {
      ++afterRecovery;
    }
  }
  int maxPerClient = 0;
  for (const auto& [device, count] : perClient) maxPerClient = std::max(maxPerClient, count);

  // First answer of each of the games' events, and answers beyond the first per number.
  std::map<std::pair<int, int>, int64_t> firstAnswer;
  std::map<std::pair<std::string, std::string>, std::set<int>> seqsPerNumber;
  std::map<std::pair<std::string, std::string>, int> answersPerNumber;
  for (const EventRequest& request : log.requests) {
    if (request.status != 200) continue;
    ++answersPerNumber[{request.deviceId, request.eventOrder}];
    seqsPerNumber[{request.deviceId, request.eventOrder}].insert(request.simClient * 10000000 + request.simSeq);
    if (request.simSeq < 0) continue;
    auto [it, fresh] = firstAnswer.emplace(std::make_pair(request.simClient, request.simSeq), request.ms);
    if (!fresh) it->second = std::min(it->second, request.ms);
  }
  size_t repeated = 0, reused = 0;
  for (const auto& [number, answers] : answersPerNumber) repeated += static_cast<size_t>(answers - 1);
  for (const auto& [number, seqs] : seqsPerNumber) reused += seqs.size() > 1 ? 1 : 0;
  int64_t lastFirstAnswer = recovery;
  for (const auto& [event, ms] : firstAnswer) lastFirstAnswer = std::max(lastFirstAnswer, ms);
  const size_t posted = static_cast<size_t>(options.clients) * static_cast<size_t>(options.events);
  const size_t lost = posted - std::min(posted, firstAnswer.size());

  const std::vector<int> outageSeconds = PerSecond(log.requests, outageStart, recovery);
  const double outageMean = static_cast<double>(duringOutage) / options.outageSeconds;
  const int outagePeak = outageSeconds.empty() ? 0 : *std::max_element(outageSeconds.begin(), outageSeconds.end());
  // The first second holds the games' own first requests, which meet the outage together; the
  // seconds after it show whether the clients' retries come in waves.
  const int retryPeak = outageSeconds.size() < 2 ? 0 : *std::max_element(outageSeconds.begin() + 1, outageSeconds.end());
  const int64_t reportUntil = lost == 0 ? lastFirstAnswer + 1 : recovery + int64_t{options.drainSeconds} * 1000;
  const std::vector<int> afterSeconds = PerSecond(log.requests, recovery, reportUntil);
  const int afterPeak = afterSeconds.empty() ? 0 : *std::max_element(afterSeconds.begin(), afterSeconds.end());

  std::cout << "\nevent requests during the outage: " << duringOutage << "; per client max " << maxPerClient
            << ", mean " << Fixed(static_cast<double>(duringOutage) / options.clients, 2) << "\n"
            << "  per second: " << Join(outageSeconds) << "\n"
            << "  busiest second " << outagePeak << " = "
            << Fixed(outageMean > 0 ? outagePeak / outageMean : 0.0, 2) << "x the outage's mean of "
            << Fixed(outageMean) << "/s\n"
            << "  busiest second after the first " << retryPeak << " = "
            << Fixed(outageMean > 0 ? retryPeak / outageMean : 0.0, 2) << "x that mean\n"
            << "after recovery: " << afterRecovery << " requests; peak " << afterPeak << "/s; ";
  if (lost == 0) {
    std::cout << "every event answered " << Fixed((lastFirstAnswer - recovery) / 1000.0, 2) << " s after recovery\n";
  } else {
    std::cout << "events still missing " << options.drainSeconds << " s after recovery\n";
  }
  std::cout << "  per second: " << Join(afterSeconds) << "\n"
            << "events: posted " << posted << ", answered " << firstAnswer.size() << ", lost " << lost
            << ", repeated " << repeated << " (answered again under a number already answered), numbers carried by"
            << " two events " << reused << "\n"
            << "clients seen by the server: " << devices.size() << " (of " << options.clients << ")\n";
  return lost;
}

struct Game {
  std::unique_ptr<zarnbench::ChildProcess> process;
  bool ready = false, posted = false, exited = false;
};

// Every game in its own state folder, with its own client id stored there as a player's machine
// would have it.
std::unique_ptr<zarnbench::ChildProcess> StartGame(const Options& options, const fs::path& runDir, int client,
                                                   const std::string& origin) {
  const fs::path folder = runDir / ("client-" + std::to_string(client));
  fs::create_directories(folder / "data" / "ZarnSteamExeSdk");
  char clientId[32];
  std::snprintf(clientId, sizeof clientId, "outage-sim-%04d", client);
  std::ofstream(folder / "data" / "ZarnSteamExeSdk" / "SharedConf") << R"({"ClientId":")" << clientId << R"("})";

  zarnbench::ChildOptions child;
  child.args = {std::to_string(client), std::to_string(options.events)};
  child.environment = {"ZARN_SDK_API_ORIGIN=" + origin, "ZARN_SDK_DATA_HOME=" + (folder / "data").string(),
                       "SteamAppId=480", "ZARN_STEAMSIM_RUNNING=1"};
  if (!options.sdkLib.empty()) {
    const char* inherited = std::getenv("LD_LIBRARY_PATH");
    child.environment.push_back("LD_LIBRARY_PATH=" + options.sdkLib + (inherited ? ":" + std::string(inherited) : ""));
  }
  child.workingFolder = folder.string();
  child.logFile = (folder / "game.log").string();
  child.pipeInput = child.pipeOutput = true;
  return std::make_unique<zarnbench::ChildProcess>(options.game, std::move(child));
}

// Reads each game's next line until it is `expected` (or starts with it), within `timeout` in all.
int AwaitLine(std::vector<Game>& games, const std::string& expected, bool Game::*flag, std::chrono::seconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  int count = 0;
  for (size_t i = 0; i < games.size(); ++i) {
    Game& game = games[i];
    const auto left = std::max(0ms, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    const std::optional<std::string> line = game.process->ReadLine(left);
    game.*flag = line && line->rfind(expected, 0) == 0;
    if (game.*flag) {
      ++count;
    } else {
      std::cerr << "zarn-outage-sim: game " << i + 1 << " said \"" << line.value_or("(nothing)") << "\", not \""
                << expected << "\"\n";
    }
  }
  return count;
}

int Run(const Options& options) {
  fs::path runDir = options.runDir;
  if (runDir.empty()) {
    char folder[] = "/tmp/zarn-outage-sim-XXXXXX";
    if (mkdtemp(folder) == nullptr) throw std::runtime_error("cannot make a run folder");
    runDir = folder;
  }
  fs::create_directories(runDir);
  std::cout << "outage simulation: " << options.clients << " clients x " << options.events << " events, analytics "
            << options.outageStatus << " for " << options.outageSeconds << " s "
            << (options.retryAfter.empty() ? "without Retry-After" : "with Retry-After: " + options.retryAfter)
            << ", drain limit " << options.drainSeconds << " s\n"
            << "library: " << (options.sdkLib.empty() ? "the game's own build" : options.sdkLib) << "\n"
            << "run folder: " << runDir.string() << "\nload average at start: " << LoadAverage() << std::endl;

  std::vector<std::string> mockArgs = {"--threads", std::to_string(std::max(32, 10 * options.clients)),
                                       "--events-outage", std::to_string(options.outageSeconds),
                                       "--events-outage-status", std::to_string(options.outageStatus)};
  if (!options.retryAfter.empty()) mockArgs.insert(mockArgs.end(), {"--events-retry-after", options.retryAfter});
  const Clock::time_point began = Clock::now();
  zarnbench::MockProcess mock(options.mock, (runDir / "mock").string(), false, mockArgs);
  RequestLogReader log(mock.RecordFile());

  std::vector<Game> games(static_cast<size_t>(options.clients));
  for (int i = 0; i < options.clients; ++i) games[static_cast<size_t>(i)].process = StartGame(options, runDir, i + 1, mock.Origin());
  bool healthy = AwaitLine(games, "ready 200", &Game::ready, 120s) == options.clients;

  // The start-up events reach the server before the outage, so it counts only the games' events.
  const Clock::time_point startupDeadline = Clock::now() + 20s;
  for (log.Update(); healthy && log.sdkEventsAnswered < games.size() && Clock::now() < startupDeadline; log.Update()) {
    std::this_thread::sleep_for(100ms);
  }

  int64_t outageStart = 0;
  if (healthy) {
    mock.StartEventsOutage();
    for (Game& game : games) game.process->WriteLine("post");
    healthy = AwaitLine(games, "posted", &Game::posted, 120s) == options.clients;
    const Clock::time_point recovery = Clock::now() + std::chrono::seconds(options.outageSeconds);
    const Clock::time_point drainEnd = recovery + std::chrono::seconds(options.drainSeconds);
    const size_t expected = games.size() * static_cast<size_t>(options.events);
    for (log.Update(); Clock::now() < recovery || (log.delivered.size() < expected && Clock::now() < drainEnd);
         log.Update()) {
      std::this_thread::sleep_for(250ms);
    }
  }

  for (Game& game : games) game.process->WriteLine("exit");
  const int exited = AwaitLine(games, "exited", &Game::exited, 60s);
  int endedWell = 0;
  for (size_t i = 0; i < games.size(); ++i) {
    const std::optional<int> status = games[i].process->Wait(10s);
    if (status == 0 && games[i].exited) {
      ++endedWell;
    } else {
      std::cerr << "zarn-outage-sim: game " << i + 1
                << (status ? " ended with status " + std::to_string(*status) : std::string(" still ran; killed"))
                << (games[i].exited ? "" : ", without answering Exit")
                << "\n";
      games[i].process->Kill();
    }
  }
  mock.Stop();
  log.Update();
  double gamesCpu = 0;
  for (const Game& game : games) gamesCpu += game.process->CpuSeconds();
  const double wall = std::chrono::duration<double>(Clock::now() - began).count();
  std::cout << "games: " << games.size() << " started, "
            << std::count_if(games.begin(), games.end(), [](const Game& g) { return g.ready; }) << " ready, "
            << exited << " answered Exit, " << endedWell << " ended with status 0\n"
            << "CPU time: games " << Fixed(gamesCpu) << " s, mock " << Fixed(mock.CpuSeconds()) << " s, in "
            << Fixed(wall) << " s on " << std::thread::hardware_concurrency() << " cores; load average at the end "
            << LoadAverage() << "\n";

  size_t lost = 0;
  if (healthy && log.outageStartMs) {
    outageStart = *log.outageStartMs;
    lost = Report(options, log, outageStart);
  } else {
    std::cout << "no report: the games did not all start and post\n";
  }
  const bool passed = healthy && endedWell == options.clients && lost == 0;
  if (passed && !options.keep) {
    std::error_code ignored;
    fs::remove_all(runDir, ignored);
  } else {
    std::cout << "run folder kept: " << runDir.string() << "\n";
  }
  return passed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // A game that has gone must not end the simulation when it is told to exit.
  signal(SIGPIPE, SIG_IGN);
  Options options;
  try {
    options = ParseOptions(argc, argv);
  } catch (const std::invalid_argument& error) {
    if (*error.what() != '\0') std::cerr << "zarn-outage-sim: " << error.what() << "\n";
    std::cerr << kUsage;
    return *error.what() != '\0' ? 2 : 0;
  }
  try {
    return Run(options);
  } catch (const std::exception& error) {
    std::cerr << "zarn-outage-sim: " << error.what() << std::endl;
    return 1;
  }
}
