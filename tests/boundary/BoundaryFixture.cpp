#include "BoundaryFixture.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace zarntest {
namespace {

constexpr char kChildMarker[] = "ZARN_BOUNDARY_CHILD";

}  // namespace

bool IsChildProcess() { return std::getenv(kChildMarker) != nullptr; }

void BoundaryTest::SetUp() {
  oldCwd_ = std::filesystem::current_path();
  if (IsChildProcess()) {
    // The parent prepared folder, environment and mock: a restarted game finds them as they are.
    sdk_ = &SdkLibrary::Load();
    return;
  }
  std::filesystem::create_directories(DataHome());
  std::filesystem::current_path(dir_.path());  // zarnlog.log lands here

  zarnmock::MockOptions options;
  options.caCertFile = (dir_.path() / "ca.pem").string();
  mock_ = std::make_unique<zarnmock::MockBackend>(options);
  mock_->Start();

  env_.push_back(std::make_unique<ScopedEnv>("HOME", dir_.str()));
  env_.push_back(std::make_unique<ScopedEnv>("XDG_DATA_HOME", DataHome().string()));
  env_.push_back(std::make_unique<ScopedEnv>("ZARN_SDK_API_ORIGIN", mock_->Origin()));
  env_.push_back(std::make_unique<ScopedEnv>("SSL_CERT_FILE", mock_->CaCertFile()));
  env_.push_back(std::make_unique<ScopedEnv>("SSL_CERT_DIR", std::nullopt));
  SteamSim_Reset();
  sdk_ = &SdkLibrary::Load();
}

void BoundaryTest::TearDown() {
  // Stop the SDK's workers before the server they may still be talking to.
  if (sdk_ != nullptr && !IsChildProcess()) sdk_->Exit();
  if (mock_) mock_->Stop();
  std::error_code ec;
  std::filesystem::current_path(oldCwd_, ec);
}

std::filesystem::path BoundaryTest::AppConfPath(uint32_t appId) const {
  return DataHome() / "ZarnSteamExeSdk" / std::to_string(appId) / "AppConf";
}

std::string BoundaryTest::LogText() const { return ReadFile(std::filesystem::current_path() / "zarnlog.log"); }

void BoundaryTest::StartSdk() {
  sdk().Init(L"1001", L"zarn-demo-key", CallbackSlot<900>::fn);
  ASSERT_TRUE(CallbackSlot<900>::log().WaitFor(1)) << "Init never called back";
  const auto r = CallbackSlot<900>::log().Records().back();
  ASSERT_EQ(r.code, 200) << Narrow(r.msg);
  CallbackSlot<900>::log().Clear();
}

void BoundaryTest::LoginSdk() {
  sdk().Login(CallbackSlot<901>::fn);
  ASSERT_TRUE(CallbackSlot<901>::log().WaitFor(1)) << "Login never called back";
  const auto r = CallbackSlot<901>::log().Records().back();
  ASSERT_EQ(r.code, 200) << Narrow(r.msg);
  CallbackSlot<901>::log().Clear();
}

void BoundaryTest::WaitForStoredOrder(const std::string& steamOrderId) {
  const std::string line = "Save SteamOrderId:" + steamOrderId;
  ASSERT_TRUE(WaitUntil([&] { return LogText().find(line) != std::string::npos; })) << line;
}

std::vector<nlohmann::json> BoundaryTest::AnalyticsEvents() const {
  std::vector<nlohmann::json> events;
  for (const auto& request : mock_->Requests(zarnmock::paths::kAnalytics)) {
    events.push_back(nlohmann::json::parse(request.body));
  }
  return events;
}

int BoundaryTest::RunChildProcess(const std::string& filter, const std::map<std::string, std::string>& extraEnv) {
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
  envStrings.push_back(std::string(kChildMarker) + "=1");
  for (const auto& [name, value] : extraEnv) envStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  std::string filterArg = "--gtest_filter=" + filter;
  char* argv[] = {exe.data(), filterArg.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace zarntest
