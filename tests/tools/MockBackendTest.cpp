// The mock backend as its users rely on it: the tests (a verifier that refuses what the server
// would refuse, scripted answers, forced Steam order ids, transaction files for the simulated
// Steam overlay) and the demo script (the zarn-mock-backend program and its options).
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Harness.h"
#include "Os.h"
#include "tools/mock_backend/MockBackend.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;
using zarntest::ReadFile;
namespace paths = zarnmock::paths;
namespace fs = std::filesystem;

// Requests as the SDK sends them for app 10086 with the default key, signed outside the code
// under test: MD5 of the signed values in the server's order, e.g. for the start-up
// MD5("10086" "zarn-demo-key" "c0ffee-client" "Windows" "SteamEXE_2.0.0" "html5" "html5").
const std::string kCommon =
    "appId=10086&os=Windows&sdkVer=SteamEXE_2.0.0&sdkType=html5&clientId=c0ffee-client&runPlatform=html5"
    "&gamePlatform=steam";
const std::string kStartup = kCommon + "&osign=a64170810d2327847e6e16c83f1b3c54";
const std::string kOrder =
    kCommon +
    "&appKey=zarn-demo-key&channel=STEAM&productId=gem_pack_small&orderAmountMicros=0&currencyCode=&extInfo=x"
    "&collectionInfo={\"deviceId\":\"c0ffee-client\",\"resolution\":\"1920*1080\"}&userId=100001&serverId=s1"
    "&gameUserId=role-9&nickName=Hero&sdkExtInfo={\"merId\":\"480\"}&osign=e3fb56ae9a6f3c30cf6d48882a4978f3";
const std::string kPayResult =
    kCommon +
    "&channel=STEAM&userId=100001&serverId=s1&gameUserId=role-9&orderId=ZM-1"
    "&extVerifyInfo={\"steamOrderId\":\"4294968296\"}"
    "&status=1&payAmountMicros=990000&channelPayType=&channelProductId=steam.gem.small&trxId=&trxToken="
    "&osign=ce6cf9281afbe9c48fcdcf1d552e651e";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

zarnmock::MockOptions Plain() {
  zarnmock::MockOptions options;
  options.plainHttp = true;
  return options;
}

struct Reply {
  int status = 0;
  std::string body;
  json Json() const { return json::parse(body, nullptr, false); }
  std::string SteamOrderId() const { return Json()["extInfo"].value("steamOrderId", ""); }
};

Reply Post(httplib::Client& client, const std::string& path, const std::string& body) {
  const auto result = client.Post(path, body, "application/x-www-form-urlencoded");
  EXPECT_TRUE(result) << path << ": " << (result ? "" : httplib::to_string(result.error()));
  return result ? Reply{result->status, result->body} : Reply{};
}

TEST(MockBackend, VerifierRefusesWrongOrderAndBadSignatures) {
  struct Case {
    const char* what;
    std::string path;
    std::string body;
    std::string reason;  // start of the refusal's reason; empty: accepted
  };
  const std::vector<Case> cases = {
      {"start-up", paths::kClientConfig, kStartup, ""},
      {"order", paths::kCreateOrder, kOrder, ""},
      {"swapped common parameters", paths::kClientConfig,
       Replace(kStartup, "appId=10086&os=Windows", "os=Windows&appId=10086"), "parameter order"},
      {"swapped own parameters", paths::kCreateOrder,
       Replace(kOrder, "userId=100001&serverId=s1", "serverId=s1&userId=100001"), "parameter order"},
      {"forged signature", paths::kClientConfig, Replace(kStartup, "a6417081", "a6417082"), "osign mismatch"},
      {"value changed after signing", paths::kCreateOrder, Replace(kOrder, "nickName=Hero", "nickName=Her0"),
       "osign mismatch"},
  };
  zarnmock::MockBackend backend(Plain());
  backend.Start();
  httplib::Client client("127.0.0.1", backend.Port());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Reply reply = Post(client, c.path, c.body);
    const zarnmock::RecordedRequest record = backend.Requests().back();
    EXPECT_EQ(record.ok, c.reason.empty()) << record.reason;
    EXPECT_EQ(record.reason.rfind(c.reason, 0), 0u) << record.reason;
    EXPECT_EQ(reply.Json().value("code", 0), c.reason.empty() ? 200 : 1002) << reply.body;
  }
}

// What the SDK's tests rely on to hold an answer back: a delayed request is recorded on arrival
// and answered after the delay. (Replaced bodies, statuses and failures show in their results.)
TEST(MockBackend, DelayedRequestIsRecordedOnArrivalAndAnsweredLater) {
  zarnmock::MockBackend backend(Plain());
  backend.Start();
  backend.Script(paths::kProducts, {.delay = 300ms});
  const auto start = std::chrono::steady_clock::now();
  auto delayed = std::async(std::launch::async, [&] {
    httplib::Client client("127.0.0.1", backend.Port());
    return Post(client, paths::kProducts, "x");
  });
  ASSERT_TRUE(backend.WaitForRequests(paths::kProducts, 1));
  EXPECT_FALSE(backend.Requests(paths::kProducts).at(0).answered);
  EXPECT_EQ(delayed.get().status, 200);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  EXPECT_TRUE(backend.WaitForAnswers(paths::kProducts, 1, 0ms));
}

// The outage the simulations script: configured at start, begun by its control request; until
// it ends every analytics request fails with its status and "Retry-After". The record names the
// event of each request.
TEST(MockBackend, EventsOutageFailsAnalyticsFromItsStartForItsLength) {
  zarnmock::MockOptions options = Plain();
  options.eventsOutage = zarnmock::MockOptions::Outage{2s, 503, "10"};
  zarnmock::MockBackend backend(options);
  backend.Start();
  httplib::Client client("127.0.0.1", backend.Port());
  std::string retryAfter;
  auto event = [&] {
    const auto result = client.Post(paths::kAnalytics, R"({"deviceId":"d1","eventOrder":"n7"})", "text/plain");
    retryAfter = result ? result->get_header_value("Retry-After") : "";
    return result ? result->status : 0;
  };

  EXPECT_EQ(event(), 200);
  EXPECT_EQ(Post(client, paths::kEventsOutage, "").status, 200);
  EXPECT_EQ(event(), 503);
  EXPECT_EQ(retryAfter, "10");
  const zarnmock::RecordedRequest record = backend.Requests(paths::kAnalytics).back();
  EXPECT_EQ(record.deviceId + record.eventOrder, "d1n7");
  EXPECT_GT(record.receivedMs, 0);
  EXPECT_TRUE(zarntest::WaitUntil([&] { return event() == 200; }));
}

TEST(MockBackend, OrdersDropOneTransactionFilePerOrderForTheOverlay) {
  zarntest::TempDir inbox;
  zarnmock::MockOptions options = Plain();
  options.steamSimDir = inbox.str();
  zarnmock::MockBackend backend(options);
  backend.Start();
  httplib::Client client("127.0.0.1", backend.Port());
  auto steamOrderId = [&] { return Post(client, paths::kCreateOrder, kOrder).SteamOrderId(); };

  const std::string first = steamOrderId(), second = steamOrderId();
  EXPECT_NE(first, second);
  backend.ForceSteamOrderId("4294967297");
  EXPECT_EQ(steamOrderId(), "4294967297");
  // Drops nothing: an order id that is no file name, a replaced answer, a refused request.
  backend.ForceSteamOrderId("../escape");
  EXPECT_EQ(steamOrderId(), "../escape");
  backend.Script(paths::kCreateOrder, {.body = "{}"});
  Post(client, paths::kCreateOrder, kOrder);
  backend.ClearScript(paths::kCreateOrder);
  Post(client, paths::kCreateOrder, kOrder + "0");

  std::set<std::string> files;  // no temporary file left either
  for (const auto& entry : fs::directory_iterator(inbox.path())) files.insert(entry.path().filename().string());
  EXPECT_EQ(files, (std::set<std::string>{first + ".json", second + ".json", "4294967297.json"}));
  EXPECT_EQ(ReadFile(inbox.path() / "4294967297.json"), R"({"appId":480,"orderId":"4294967297"})");
}

TEST(MockBackendProgram, RefusesBadOptionsAndServesUntilAskedToStop) {
  using zarntest::os::StopRequest;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--bogus"}, {"--port", "70000"}, {"--port"}, {"--pay-status", "x"},
        {"--events-retry-after", "10"}}) {
    EXPECT_EQ(zarntest::os::RunProcess(ZARN_MOCK_BACKEND_EXE, args), 2) << args[0];
  }
  for (const bool tls : {true, false}) {
    SCOPED_TRACE(tls ? "https, SIGTERM" : "plain, SIGINT");
    zarntest::TempDir dir;
    const fs::path originFile = dir.path() / "origin", caFile = dir.path() / "ca.pem", inbox = dir.path() / "inbox",
                   records = dir.path() / "requests.jsonl";
    fs::create_directories(inbox);
    std::vector<std::string> args = {"--origin-file", originFile.string(), "--steamsim-dir", inbox.string(),
                                     "--record", records.string(), "--pay-status", "0", tls ? "--ca-out" : "--plain"};
    if (tls) args.push_back(caFile.string());
    const zarntest::os::Process program = zarntest::os::StartProcess(ZARN_MOCK_BACKEND_EXE, args);
    if (!zarntest::WaitUntil([&] { return fs::exists(originFile); }, 30s)) {
      zarntest::os::Kill(program);
      FAIL() << "the program never wrote its origin";
    }
    const std::string origin = ReadFile(originFile);
    EXPECT_EQ(origin.rfind(tls ? "https://127.0.0.1:" : "http://127.0.0.1:", 0), 0u) << origin;

    // By name: cpp-httplib built with mingw-w64 checks an address only as a DNS name, and the
    // certificate names both.
    httplib::Client client(tls ? Replace(origin, "127.0.0.1", "localhost") : origin);
    if (tls) {
      client.set_ca_cert_path(caFile.string().c_str());
      client.enable_server_certificate_verification(true);
    }
    EXPECT_EQ(Post(client, paths::kClientConfig, kStartup).Json().value("code", 0), 200);
    const std::string steamOrderId = Post(client, paths::kCreateOrder, kOrder).SteamOrderId();
    EXPECT_TRUE(fs::exists(inbox / (steamOrderId + ".json"))) << "the file is in place before the answer leaves";
    EXPECT_EQ(Post(client, paths::kPayResult, kPayResult).Json().value("status", -1), 0);

    // Stopped the two ways a person or a script stops it.
    zarntest::os::RequestStop(program, tls ? StopRequest::Terminate : StopRequest::Interrupt);
    const std::optional<int> status = zarntest::os::WaitForExit(program, 20s);
    if (!status) zarntest::os::Kill(program);
    EXPECT_EQ(status, 0);
    const std::string recorded = ReadFile(records);
    EXPECT_EQ(std::count(recorded.begin(), recorded.end(), '\n'), 3) << recorded;
    EXPECT_EQ(recorded.find("\"ok\":false"), std::string::npos) << recorded;
  }
}

}  // namespace
