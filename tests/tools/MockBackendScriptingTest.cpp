// Scripted answers, delays, failure counts, answer settings, the catalogue, the records with
// their JSON-lines file, and the Steam transaction files.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <thread>

#include "MockRequestBodies.h"
#include "Harness.h"
#include "tools/mock_backend/MockBackend.h"

using nlohmann::json;
using namespace mocktest;
using namespace std::chrono_literals;
namespace paths = zarnmock::paths;
namespace fs = std::filesystem;

namespace {

zarnmock::MockOptions Plain() {
  zarnmock::MockOptions options;
  options.plainHttp = true;
  return options;
}

json Reply(httplib::Client& client, const std::string& path, const std::string& body) {
  auto result = PostForm(client, path, body);
  EXPECT_TRUE(result);
  return result ? json::parse(result->body, nullptr, false) : json();
}

}  // namespace

TEST(MockBackendScripting, BodiesStatusesFailuresAndSettings) {
  zarnmock::MockBackend backend(Plain());
  backend.Start();
  httplib::Client client("127.0.0.1", backend.Port());

  zarnmock::ReplyScript raw;
  raw.body = std::string("<html>\0oops", 11);
  raw.contentType = "text/html";
  backend.Script(paths::kClientConfig, raw);
  auto result = PostForm(client, paths::kClientConfig, kClientConfigBody);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->body, std::string("<html>\0oops", 11));
  EXPECT_EQ(result->get_header_value("Content-Type"), "text/html");

  zarnmock::ReplyScript flaky;
  flaky.httpStatus = 503;
  flaky.failuresBeforeSuccess = 2;
  backend.Script(paths::kClientConfig, flaky);
  for (int i = 0; i < 2; ++i) {
    result = PostForm(client, paths::kClientConfig, kClientConfigBody);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 500);
    EXPECT_EQ(result->body, R"({"code":500,"msg":"scripted failure"})");
  }
  // After the failures: the normal body with the scripted status.
  result = PostForm(client, paths::kClientConfig, kClientConfigBody);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 503);
  EXPECT_EQ(json::parse(result->body)["code"], 200);
  backend.ClearScript(paths::kClientConfig);

  backend.SetIsTestDevice(1);
  backend.SetLoginToken("tok en");
  backend.SetLoginUserId(-7);
  backend.SetPayStatus(0);
  backend.ForceSteamOrderId("4294967297");
  EXPECT_EQ(Reply(client, paths::kClientConfig, kClientConfigBody)["isTestDevice"], 1);
  const json login = Reply(client, paths::kLogin, kLoginBody);
  EXPECT_EQ(login["token"], "tok en");
  EXPECT_EQ(login["userId"], -7);
  EXPECT_EQ(Reply(client, paths::kPayResult, kPayResultBody)["status"], 0);
  EXPECT_EQ(Reply(client, paths::kCreateOrder, kOrderBody)["extInfo"]["steamOrderId"], "4294967297");
  EXPECT_EQ(Reply(client, paths::kCreateOrder, kOrderBody)["extInfo"]["steamOrderId"], "4294967297");

  // The catalogue: replaced by JSON, by file; an order for a product it lacks is refused.
  backend.SetCatalogueJson(R"([{"productId":"only","productName":"Only","payChannel":[{"name":"STEAM"}]}])");
  EXPECT_EQ(Reply(client, paths::kProducts, kProductsBody)["productList"].size(), 1u);
  const json missing = Reply(client, paths::kCreateOrder, kOrderBody);
  EXPECT_EQ(missing["code"], 1004);
  EXPECT_EQ(missing["msg"], "product not found: gem_pack_small");
  zarntest::TempDir dir;
  zarntest::WriteFile(dir.path() / "c.json", R"({"productList":[{"productId":"gem_pack_small"},{"productId":"b"}]})");
  backend.LoadCatalogueFile((dir.path() / "c.json").string());
  EXPECT_EQ(Reply(client, paths::kProducts, kProductsBody)["productList"].size(), 2u);
  EXPECT_EQ(Reply(client, paths::kCreateOrder, kOrderBody)["code"], 200);
  EXPECT_THROW(backend.SetCatalogueJson("{oops"), std::invalid_argument);
  EXPECT_THROW(backend.LoadCatalogueFile((dir.path() / "absent.json").string()), std::invalid_argument);
}

TEST(MockBackendScripting, DelaysHoldTheAnswerAndStopCutsThemShort) {
  zarnmock::MockBackend backend(Plain());
  backend.Start();

  zarnmock::ReplyScript slow;
  slow.delay = 300ms;
  backend.Script(paths::kProducts, slow);
  {
    httplib::Client client("127.0.0.1", backend.Port());
    const auto start = std::chrono::steady_clock::now();
    auto result = PostForm(client, paths::kProducts, kProductsBody);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  }
  EXPECT_TRUE(backend.WaitForAnswers(paths::kProducts, 1, 0ms));
  EXPECT_FALSE(backend.WaitForRequests(paths::kProducts, 2, 50ms));

  // A request held back is visible on arrival, unanswered; Stop ends the wait.
  slow.delay = 1h;
  backend.Script(paths::kLogin, slow);
  auto stuck = std::async(std::launch::async, [&] {
    httplib::Client client("127.0.0.1", backend.Port());
    return static_cast<bool>(PostForm(client, paths::kLogin, kLoginBody));
  });
  ASSERT_TRUE(backend.WaitForRequests(paths::kLogin, 1));
  EXPECT_FALSE(backend.Requests(paths::kLogin).at(0).answered);
  EXPECT_EQ(stuck.wait_for(100ms), std::future_status::timeout);
  const auto stopStart = std::chrono::steady_clock::now();
  backend.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - stopStart, 10s);
  EXPECT_EQ(stuck.wait_for(10s), std::future_status::ready);
}

TEST(MockBackendScripting, RecordsAndJsonLinesFile) {
  zarntest::TempDir dir;
  const fs::path recordFile = dir.path() / "requests.jsonl";
  zarnmock::MockOptions options = Plain();
  options.recordFile = recordFile.string();
  zarnmock::MockBackend backend(options);
  backend.Start();
  httplib::Client client("127.0.0.1", backend.Port());

  PostForm(client, paths::kCreateOrder, kOrderBody);
  PostForm(client, paths::kClientConfig, kCommon + "&osign=x");
  const auto records = backend.Requests();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].sequence, 1u);
  EXPECT_EQ(records[0].method, "POST");
  EXPECT_EQ(records[0].body, kOrderBody);
  EXPECT_EQ(records[0].params.size(), 20u);
  EXPECT_TRUE(records[0].answered);
  EXPECT_EQ(records[0].replyStatus, 200);
  EXPECT_FALSE(records[1].ok);
  EXPECT_EQ(records[1].Header("Content-Type"), kForm);
  EXPECT_EQ(backend.RequestCount(paths::kClientConfig), 1u);

  std::ifstream in(recordFile);
  std::vector<json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["path"], paths::kCreateOrder);
  EXPECT_EQ(lines[0]["params"][12], json::array({"extInfo", "game&extra=1 +x%"}));
  EXPECT_EQ(lines[0]["body"], kOrderBody);
  EXPECT_EQ(json::parse(lines[0]["replyBody"].get<std::string>())["code"], 200);
  EXPECT_EQ(lines[1]["ok"], false);
  EXPECT_EQ(lines[1]["reason"], "osign is not 32 lower-case hex digits: x");

  backend.ClearRequests();
  EXPECT_TRUE(backend.Requests().empty());
  PostForm(client, paths::kClientConfig, kClientConfigBody);
  EXPECT_EQ(backend.Requests().at(0).sequence, 3u);
}

TEST(MockBackendScripting, EachOrderDropsOneCompleteTransactionFile) {
  zarntest::TempDir dir;
  zarnmock::MockOptions options = Plain();
  options.steamSimDir = dir.str();
  zarnmock::MockBackend backend(options);
  backend.Start();

  // A watcher reading every visible ".json" file while orders are created must only ever see
  // whole files.
  std::atomic<bool> done{false};
  std::atomic<int> partial{0};
  std::thread watcher([&] {
    while (!done) {
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(dir.path(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.front() == '.' || entry.path().extension() != ".json") continue;
        const std::string content = zarntest::ReadFile(entry.path());
        if (json::parse(content, nullptr, false).is_discarded()) ++partial;
      }
      std::this_thread::yield();
    }
  });
  httplib::Client client("127.0.0.1", backend.Port());
  std::set<std::string> ids;
  for (int i = 0; i < 20; ++i) {
    const json order = Reply(client, paths::kCreateOrder, kOrderBody);
    ids.insert(order["extInfo"]["steamOrderId"].get<std::string>());
  }
  done = true;
  watcher.join();
  EXPECT_EQ(partial, 0);
  ASSERT_EQ(ids.size(), 20u);

  std::set<std::string> files;
  for (const auto& entry : fs::directory_iterator(dir.path())) files.insert(entry.path().filename().string());
  EXPECT_EQ(files.size(), 20u);  // no temporary file left behind
  for (const auto& id : ids) {
    ASSERT_EQ(files.count(id + ".json"), 1u) << id;
    EXPECT_EQ(zarntest::ReadFile(dir.path() / (id + ".json")), R"({"appId":480,"orderId":")" + id + "\"}");
  }

  // A refused order, a scripted answer and a non-decimal id drop nothing.
  PostForm(client, paths::kCreateOrder, kOrderBody + "x");
  zarnmock::ReplyScript replaced;
  replaced.body = "{}";
  backend.Script(paths::kCreateOrder, replaced);
  PostForm(client, paths::kCreateOrder, kOrderBody);
  backend.ClearScript(paths::kCreateOrder);
  backend.ForceSteamOrderId("../evil");
  EXPECT_EQ(Reply(client, paths::kCreateOrder, kOrderBody)["code"], 200);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 20);
  EXPECT_EQ(backend.Requests(paths::kCreateOrder).back().note,
            "Steam order id is not decimal, no transaction file: ../evil");
}

TEST(MockBackendScripting, ConcurrentRequestsAreEachRecordedAndAnsweredOnce) {
  zarnmock::MockBackend backend(Plain());
  backend.Start();
  constexpr int kClients = 8;
  constexpr int kOrdersEach = 5;
  auto waiter = std::async(std::launch::async,
                           [&] { return backend.WaitForAnswers(paths::kCreateOrder, kClients * kOrdersEach, 60s); });
  std::vector<std::future<std::vector<std::string>>> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.push_back(std::async(std::launch::async, [&] {
      httplib::Client client("127.0.0.1", backend.Port());
      std::vector<std::string> ids;
      for (int i = 0; i < kOrdersEach; ++i) {
        ids.push_back(Reply(client, paths::kCreateOrder, kOrderBody)["extInfo"]["steamOrderId"].get<std::string>());
      }
      return ids;
    }));
  }
  std::set<std::string> ids;
  for (auto& client : clients) {
    for (const auto& id : client.get()) ids.insert(id);
  }
  EXPECT_TRUE(waiter.get());
  EXPECT_EQ(ids.size(), static_cast<size_t>(kClients * kOrdersEach));
  std::set<uint64_t> sequences;
  for (const auto& record : backend.Requests()) sequences.insert(record.sequence);
  EXPECT_EQ(sequences.size(), static_cast<size_t>(kClients * kOrdersEach));
}
