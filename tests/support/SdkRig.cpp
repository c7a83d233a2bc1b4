#include "SdkRig.h"

#include <filesystem>
#include <mutex>

#include "Os.h"
#include "Sdk/ZarnLog.h"
#include "TestAuthority.h"

namespace zarntest {
namespace {

std::mutex tapMutex;
std::condition_variable tapChanged;
std::vector<std::string>& TapLines() {
  static auto* lines = new std::vector<std::string>();  // SDK threads may log at process exit
  return *lines;
}

class TapDispatch : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData* data) override {
    // Notified under the lock: the waiter may return and the test end meanwhile.
    std::lock_guard<std::mutex> lock(tapMutex);
    TapLines().push_back(data->logMessage()->message());
    tapChanged.notify_all();
  }
};

size_t CountLocked(const std::string& prefix) {
  size_t n = 0;
  for (const auto& line : TapLines()) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

void InstallTap() {
  static const bool installed = [] {
    el::Helpers::installLogDispatchCallback<TapDispatch>("zarn-test-tap");
    return true;
  }();
  (void)installed;
}

}  // namespace

testing::AssertionResult IsSdkResult(const CallbackRecord& r, const ZarnSdk::SdkResult& expected) {
  if (r.code == expected.code && r.msg == expected.message && r.data.empty()) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "got " << r.code << " \"" << r.msg << "\" data \"" << r.data
                                     << "\", not " << expected.code << " \"" << expected.message << "\"";
}

testing::AssertionResult AnsweredAtOnce(CallbackLog& log, const ZarnSdk::SdkResult& expected) {
  const std::vector<CallbackRecord> records = log.Records();
  if (records.size() != 1) return testing::AssertionFailure() << records.size() << " calls, not 1";
  if (records[0].thread != std::this_thread::get_id()) return testing::AssertionFailure() << "called on another thread";
  return IsSdkResult(records[0], expected);
}

ScopedSdkLog::ScopedSdkLog() : oldCwd_(std::filesystem::current_path().string()) {
  InstallTap();
  LogTap::Clear();
  EXPECT_TRUE(os::ChangeDirectory(dir_.str()));
  ZarnSdk::ConfigureLogger(true);
}

ScopedSdkLog::~ScopedSdkLog() {
  ZarnSdk::ConfigureLogger(false);
  os::ChangeDirectory(oldCwd_);
}

std::vector<std::string> LogTap::Lines() {
  std::lock_guard<std::mutex> lock(tapMutex);
  return TapLines();
}

std::vector<std::string> LogTap::StartingWith(const std::string& prefix) {
  std::vector<std::string> found;
  for (auto& line : Lines()) {
    if (line.rfind(prefix, 0) == 0) found.push_back(std::move(line));
  }
  return found;
}

bool LogTap::WaitFor(const std::string& prefix, size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(tapMutex);
  return tapChanged.wait_for(lock, timeout, [&] { return CountLocked(prefix) >= count; });
}

void LogTap::Clear() {
  std::lock_guard<std::mutex> lock(tapMutex);
  TapLines().clear();
}

SdkRig::SdkRig(RigOptions options) : oldCwd_(std::filesystem::current_path().string()), options_(std::move(options)) {
  InstallTap();
  LogTap::Clear();
  EXPECT_TRUE(os::ChangeDirectory(dir_.str()));  // zarnlog.log lands in the temporary folder

  zarnmock::MockOptions mockOptions;
  mockOptions.authority = TrustedAuthority();
  mockOptions.caCertFile = (dir_.path() / "ca.pem").string();
  mock_ = std::make_unique<zarnmock::MockBackend>(mockOptions);
  mock_->Start();
  mock_->SetIsTestDevice(options_.testDevice ? 1 : 0);

  SteamSim_Reset();
  SteamSim_SetClientRunning(true);
  SteamSim_SetAppId(kSteamAppId);
  SteamSim_SetTicketResponse(1, 0);
  Restart();
}

void SdkRig::Restart() {
  sdk_.reset();
  ZarnSdk::SdkOptions sdkOptions;
  sdkOptions.apiOrigin = mock_->Origin();
  sdkOptions.localDataFolder = (dir_.path() / "data").string();
  sdkOptions.steamTimings = options_.steam;
  // A healthy server at the speed of loopback: pacing is DeliveryGate's tests' to check.
  sdkOptions.eventDelivery.pacing.perSecond = 0;
  if (options_.adjust) options_.adjust(sdkOptions);
  sdk_ = std::make_unique<ZarnSdk::SdkInstance>(std::move(sdkOptions));
}

SdkRig::~SdkRig() {
  // The SDK's workers stop before the server they may still be talking to.
  DestroySdk();
  if (mock_) mock_->Stop();
  os::ChangeDirectory(oldCwd_);
}

void SdkRig::DestroySdk() { sdk_.reset(); }

std::filesystem::path SdkRig::DataFolder() const { return dir_.path() / "data" / "ZarnSteamExeSdk"; }

std::filesystem::path SdkRig::AppConfPath() const { return DataFolder() / std::to_string(kSteamAppId) / "AppConf"; }

// The rig's own calls report into slots of their own, far from the tests' small numbers.
void SdkRig::Start() {
  CallbackSlot<900>::log().Clear();
  core().InitSdk("1001", "zarn-demo-key", CallbackSlot<900>::utf8);
  const CallbackRecord r = CallbackSlot<900>::log().Single();
  ASSERT_EQ(r.code, 200) << r.msg;
}

void SdkRig::LogIn() {
  CallbackSlot<901>::log().Clear();
  core().LoginSteam(CallbackSlot<901>::utf8);
  const CallbackRecord r = CallbackSlot<901>::log().Single();
  ASSERT_EQ(r.code, 200) << r.msg;
  core().SetServerId("s-7");
  core().SetGameUserId("role-42");
  core().SetNickName("Night Owl");
}

CallbackRecord SdkRig::QueryCatalogue() {
  CallbackSlot<902>::log().Clear();
  sdk().Pay().QueryProducts(CallbackSlot<902>::utf8);
  return CallbackSlot<902>::log().Single();
}

void SdkRig::StartReady() {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_NO_FATAL_FAILURE(LogIn());
  const CallbackRecord catalogue = QueryCatalogue();
  ASSERT_EQ(catalogue.code, 200) << catalogue.msg;
}

std::vector<nlohmann::json> SdkRig::AnalyticsEvents() const {
  std::vector<nlohmann::json> events;
  for (const auto& request : mock_->Requests(zarnmock::paths::kAnalytics)) {
    events.push_back(nlohmann::json::parse(request.body, nullptr, false));
  }
  return events;
}

nlohmann::json SdkRig::PostEventAndWait(const std::string& name, const std::string& params, double value) {
  const size_t before = mock_->RequestCount(zarnmock::paths::kAnalytics);
  sdk_->Track().PostEvent(name, params, value);
  EXPECT_TRUE(mock_->WaitForRequests(zarnmock::paths::kAnalytics, before + 1)) << "event " << name << " never arrived";
  const std::vector<nlohmann::json> events = AnalyticsEvents();
  return events.size() > before ? events.back() : nlohmann::json();
}

std::string SdkRig::WaitForSavedOrder(size_t count) {
  static const std::string kPrefix = "Save SteamOrderId:";
  EXPECT_TRUE(LogTap::WaitFor(kPrefix, count)) << "order " << count << " was never stored";
  const auto lines = LogTap::StartingWith(kPrefix);
  if (lines.size() < count) return {};
  const std::string& line = lines[count - 1];
  return line.substr(kPrefix.size(), line.find(",OrderId:") - kPrefix.size());
}

void SdkRig::ReportSteamDecision(const std::string& steamOrderId, bool authorized) {
  SteamSim_PushMicroTxnAuthorization(kSteamAppId, std::stoull(steamOrderId), authorized);
}

}  // namespace zarntest
