#include "TrackFixture.h"

#include <unistd.h>

#include <mutex>

#include "Sdk/CZarnCore.h"
#include "Sdk/CZarnTrack.h"
#include "Sdk/SteamSession.h"
#include "Sdk/ZarnLog.h"
#include "tools/mock_backend/ApiPaths.h"
#include "transport/WorkerPool.h"

namespace tracktest {
namespace {

std::mutex& LinesMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<std::string>& CapturedLines() {
  static std::vector<std::string> lines;
  return lines;
}

class LineCapture : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData* data) override {
    std::lock_guard<std::mutex> lock(LinesMutex());
    CapturedLines().push_back(data->logMessage()->message());
  }
};

}  // namespace

void TrackTest::SetUp() {
  ASSERT_EQ(chdir(dir_.str().c_str()), 0);  // zarnlog.log lands in the temporary folder
  home_ = std::make_unique<zarntest::ScopedEnv>("HOME", dir_.str());
  dataHome_ = std::make_unique<zarntest::ScopedEnv>("XDG_DATA_HOME", (dir_.path() / "data").string());
  el::Helpers::installLogDispatchCallback<LineCapture>("track-capture");
  ZarnSdk::ConfigureLogger(true);

  zarnmock::MockOptions options;
  options.plainHttp = true;
  mock_ = std::make_unique<zarnmock::MockBackend>(options);
  mock_->Start();
  // Read once, at the first request of this process.
  origin_ = std::make_unique<zarntest::ScopedEnv>("ZARN_SDK_API_ORIGIN", mock_->Origin());

  ZarnSdk::RecordSteamAppId(kSteamAppId);
  sion::WorkerPool::Instance().Start();
}

void TrackTest::TearDown() {
  sion::WorkerPool::Instance().Stop();
  if (mock_) mock_->Stop();
}

void TrackTest::InitTracker() {
  ZarnSdk::CZarnCore::Instance().InitGlobalParams(kAppId, "zarn-demo-key");
  ZarnSdk::CZarnTrack::Instance().Init();
}

std::filesystem::path TrackTest::AppConfPath() const {
  return dir_.path() / "data" / "ZarnSteamExeSdk" / std::to_string(kSteamAppId) / "AppConf";
}

std::string TrackTest::ClientId() const { return ZarnSdk::CZarnCore::Instance().GetGlobalParams().clientId; }

std::string TrackTest::PostAndCapture(const std::string& name, const std::string& params, double value) {
  const size_t before = AnalyticsCount();
  ZarnSdk::CZarnTrack::Instance().PostEvent(name, params, value);
  if (!mock_->WaitForRequests(zarnmock::paths::kAnalytics, before + 1)) {
    ADD_FAILURE() << "event " << name << " never reached the server";
    return "{}";
  }
  return AnalyticsRequests().back().body;
}

nlohmann::json TrackTest::Parse(const std::string& body) {
  nlohmann::json doc = nlohmann::json::parse(body, nullptr, false);
  EXPECT_FALSE(doc.is_discarded()) << body;
  return doc;
}

size_t TrackTest::AnalyticsCount() const { return mock_->RequestCount(zarnmock::paths::kAnalytics); }

std::vector<zarnmock::RecordedRequest> TrackTest::AnalyticsRequests() const {
  return mock_->Requests(zarnmock::paths::kAnalytics);
}

std::vector<std::string> TrackTest::Lines() {
  std::lock_guard<std::mutex> lock(LinesMutex());
  return CapturedLines();
}

void TrackTest::ClearLines() {
  std::lock_guard<std::mutex> lock(LinesMutex());
  CapturedLines().clear();
}

std::vector<std::string> TrackTest::LinesStartingWith(const std::vector<std::string>& prefixes) {
  std::vector<std::string> found;
  for (const auto& line : Lines()) {
    for (const auto& prefix : prefixes) {
      if (line.rfind(prefix, 0) == 0) {
        found.push_back(line);
        break;
      }
    }
  }
  return found;
}

}  // namespace tracktest
