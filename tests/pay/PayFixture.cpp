#include "PayFixture.h"

#include <unistd.h>

#include <filesystem>
#include <map>

#include "Sdk/CZarnCore.h"
#include "Sdk/CZarnPay.h"
#include "Sdk/ZarnLog.h"
#include "steam/steam_sim.h"

namespace zarntest {
namespace {

// "Steam 消息循环 退出" in GBK: the callback pump has ended.
constexpr char kPumpEndedLine[] = "Steam \xCF\xFB\xCF\xA2\xD1\xAD\xBB\xB7 \xCD\xCB\xB3\xF6";

class LogDispatch : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData* data) override { LogLines::Add(data->logMessage()->message()); }
};

}  // namespace

std::mutex LogLines::mutex_;
std::condition_variable LogLines::cv_;
std::vector<std::string> LogLines::lines_;

void LogLines::Install() { el::Helpers::installLogDispatchCallback<LogDispatch>("pay-test-capture"); }

void LogLines::Add(std::string line) {
  // Notified under the lock: the lines are static, and SDK threads may still log at exit.
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(std::move(line));
  cv_.notify_all();
}

std::vector<std::string> LogLines::All() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::vector<std::string> LogLines::StartingWith(const std::string& prefix) {
  std::vector<std::string> found;
  for (auto& line : All()) {
    if (line.rfind(prefix, 0) == 0) found.push_back(std::move(line));
  }
  return found;
}

bool LogLines::WaitFor(const std::string& prefix, size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, timeout, [&] {
    size_t n = 0;
    for (const auto& line : lines_) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return n >= count;
  });
}

void PayTest::SetUp() {
  oldCwd_ = std::filesystem::current_path().string();
  std::filesystem::create_directories(dir_.path() / "data");
  ASSERT_EQ(chdir(dir_.str().c_str()), 0);  // zarnlog.log lands in the temporary folder
  LogLines::Install();

  zarnmock::MockOptions options;
  options.caCertFile = (dir_.path() / "ca.pem").string();
  mock_ = std::make_unique<zarnmock::MockBackend>(options);
  mock_->Start();
  mock_->SetIsTestDevice(1);

  env_.push_back(std::make_unique<ScopedEnv>("HOME", dir_.str()));
  env_.push_back(std::make_unique<ScopedEnv>("XDG_DATA_HOME", (dir_.path() / "data").string()));
  env_.push_back(std::make_unique<ScopedEnv>("ZARN_SDK_API_ORIGIN", mock_->Origin()));
  env_.push_back(std::make_unique<ScopedEnv>("SSL_CERT_FILE", mock_->CaCertFile()));
  env_.push_back(std::make_unique<ScopedEnv>("SSL_CERT_DIR", std::nullopt));
  SteamSim_Reset();
  SteamSim_SetClientRunning(true);
  SteamSim_SetAppId(kSteamAppId);
  SteamSim_SetTicketResponse(1, 0);
}

void PayTest::TearDown() {
  // The SDK's workers stop before the server they may still be talking to.
  auto& core = ZarnSdk::CZarnCore::Instance();
  const bool pumping = core.isInit;
  core.Exit();
  // The pump is detached and logs its last line on its way out, so nothing joins it. Seeing that
  // line and then taking the logger's lock after the pump has let go of it orders the pump's
  // last use of the logger before the process tears the logger down.
  if (pumping) {
    EXPECT_TRUE(LogLines::WaitFor(kPumpEndedLine, 1, std::chrono::seconds(5)));
    el::Logger* logger = el::Loggers::getLogger("default");
    logger->acquireLock();
    logger->releaseLock();
  }
  if (mock_) mock_->Stop();
  if (!oldCwd_.empty()) (void)chdir(oldCwd_.c_str());
}

void PayTest::StartSdk() {
  ZarnSdk::CZarnCore::Instance().InitSdk("1001", "zarn-demo-key", CallbackSlot<900>::fn);
  ASSERT_TRUE(CallbackSlot<900>::log().WaitFor(1)) << "Init never called back";
  const auto r = CallbackSlot<900>::log().Records().back();
  ASSERT_EQ(r.code, 200) << Narrow(r.msg);
}

void PayTest::LogIn() {
  auto& core = ZarnSdk::CZarnCore::Instance();
  core.LoginSteam(CallbackSlot<901>::fn);
  ASSERT_TRUE(CallbackSlot<901>::log().WaitFor(1)) << "Login never called back";
  const auto r = CallbackSlot<901>::log().Records().back();
  ASSERT_EQ(r.code, 200) << Narrow(r.msg);
  core.SetServerId("s-7");
  core.SetGameUserId("role-42");
  core.SetNickName("Night Owl");
}

CallbackRecord PayTest::QueryCatalogue() {
  auto& log = CallbackSlot<902>::log();
  const size_t before = log.Count();
  ZarnSdk::CZarnPay::Instance().QueryProducts(CallbackSlot<902>::fn);
  EXPECT_TRUE(log.WaitFor(before + 1)) << "the product query never called back";
  const auto records = log.Records();
  return records.empty() ? CallbackRecord{} : records.back();
}

void PayTest::StartReady() {
  ASSERT_NO_FATAL_FAILURE(StartSdk());
  ASSERT_NO_FATAL_FAILURE(LogIn());
  const CallbackRecord catalogue = QueryCatalogue();
  ASSERT_EQ(catalogue.code, 200) << Narrow(catalogue.msg);
}

std::vector<SavedOrder> PayTest::SavedOrders() {
  static const std::string kPrefix = "Save SteamOrderId:";
  std::vector<SavedOrder> orders;
  for (const auto& line : LogLines::StartingWith(kPrefix)) {
    const size_t comma = line.find(",OrderId:");
    if (comma == std::string::npos) continue;
    orders.push_back({line.substr(kPrefix.size(), comma - kPrefix.size()), line.substr(comma + 9)});
  }
  return orders;
}

SavedOrder PayTest::WaitForSavedOrder(size_t count) {
  EXPECT_TRUE(LogLines::WaitFor("Save SteamOrderId:", count)) << "order " << count << " was never stored";
  const auto orders = SavedOrders();
  return orders.size() >= count ? orders[count - 1] : SavedOrder{};
}

void PayTest::ReportSteamDecision(const std::string& steamOrderId, bool authorized) {
  SteamSim_PushMicroTxnAuthorization(kSteamAppId, std::stoull(steamOrderId), authorized);
}

nlohmann::json PayTest::ReplyJson(const zarnmock::RecordedRequest& request) {
  return nlohmann::json::parse(request.replyBody, nullptr, false);
}

zarnmock::ReplyScript ScriptBody(std::string body) {
  zarnmock::ReplyScript script;
  script.body = std::move(body);
  return script;
}

zarnmock::ReplyScript ScriptDelay(std::chrono::milliseconds delay) {
  zarnmock::ReplyScript script;
  script.delay = delay;
  return script;
}

zarnmock::ReplyScript ScriptFailures(int count, std::chrono::milliseconds delay) {
  zarnmock::ReplyScript script;
  script.failuresBeforeSuccess = count;
  script.delay = delay;
  return script;
}

std::map<std::string, nlohmann::json> ProductsById(const std::wstring& data) {
  std::map<std::string, nlohmann::json> products;
  const auto doc = nlohmann::json::parse(Narrow(data), nullptr, false);
  if (!doc.is_object() || !doc.contains("productList")) return products;
  for (const auto& product : doc["productList"]) products[product.value("productId", "")] = product;
  return products;
}

}  // namespace zarntest
