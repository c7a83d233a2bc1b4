// The two state files through the real file system of a temporary data folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "Sdk/SteamSession.h"
#include "Sdk/ZarnConfigUtils.h"
#include "StorageTestEnv.h"

using nlohmann::json;
using ZarnSdk::ZarnConfigUtils;
using zarnstoragetest::LogRecorder;
using zarnstoragetest::StorageEnv;
namespace fs = std::filesystem;

namespace {

constexpr char kNoLocalDataFolderLine[] = "\xce\xde\xb7\xa8\xbb\xf1\xc8\xa1" "AppData\\Local" "\xc2\xb7\xbe\xb6";
constexpr char kCannotCreateFolderLine[] = "\xce\xde\xb7\xa8\xb4\xb4\xbd\xa8\xce\xc4\xbc\xfe\xbc\xd0";

void RaiseEventOrder(json& config) { config["EventOrder"] = config.value("EventOrder", 0) + 1; }

size_t EntriesIn(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

}  // namespace

TEST(ConfigFiles, FirstRunCreatesFoldersThenTheFirstUpdateWritesTheDocument) {
  StorageEnv env;
  LogRecorder log;
  ZarnSdk::RecordSteamAppId(480);

  EXPECT_EQ(ZarnConfigUtils::ReadConfigJson(false), json::parse(R"({"AttributionFlag":0,"EventOrder":0})"));
  EXPECT_EQ(ZarnConfigUtils::ReadConfigJson(true), json::parse(R"({"ClientId":""})"));
  ASSERT_TRUE(fs::is_directory(env.SdkFolder() / "480"));
  EXPECT_EQ(EntriesIn(env.SdkFolder() / "480"), 0u);
  EXPECT_FALSE(fs::exists(env.SdkFolder() / "SharedConf"));
  EXPECT_EQ(ZarnConfigUtils::GetAppConfigPath(), (env.SdkFolder() / "480" / "AppConf").string());
  EXPECT_EQ(ZarnConfigUtils::GetSharedConfigPath(), (env.SdkFolder() / "SharedConf").string());

  const json written = ZarnConfigUtils::UpdateConfigJson(false, RaiseEventOrder);
  EXPECT_EQ(written["EventOrder"], 1);
  EXPECT_EQ(zarntest::ReadFile(env.SdkFolder() / "480" / "AppConf"), R"({"AttributionFlag":0,"EventOrder":1})");
  EXPECT_TRUE(log.Contains(R"(Write Config Json Success. {"AttributionFlag":0,"EventOrder":1})"));
  EXPECT_EQ(EntriesIn(env.SdkFolder() / "480"), 1u) << "no temporary file may stay behind";

  // Without XDG_DATA_HOME (or with a relative one, which the XDG rules ignore) HOME decides.
  zarntest::ScopedEnv relativeXdg("XDG_DATA_HOME", "relative/data");
  const fs::path home = env.Root() / "home";
  EXPECT_EQ(ZarnConfigUtils::GetSdkDataPath(), (home / ".local" / "share" / "ZarnSteamExeSdk").string());
  EXPECT_TRUE(fs::is_directory(home / ".local" / "share" / "ZarnSteamExeSdk"));
}

TEST(ConfigFiles, DamagedOrForeignContentReadsAsDefaultsPerKey) {
  StorageEnv env;
  ZarnSdk::RecordSteamAppId(480);
  const fs::path appConf = ZarnConfigUtils::GetAppConfigPath();
  const fs::path sharedConf = ZarnConfigUtils::GetSharedConfigPath();
  const json defaults = ZarnConfigUtils::DefaultAppConfig();

  zarntest::WriteFile(appConf, "{}");
  EXPECT_EQ(ZarnConfigUtils::ReadConfigJson(false), json::object());
  ZarnConfigUtils::UpdateConfigJson(false, RaiseEventOrder);
  EXPECT_EQ(zarntest::ReadFile(appConf), R"({"EventOrder":1})");

  for (const std::string& content :
       std::vector<std::string>{R"({"AttributionFlag":1,"EventOr)", "", "[1,2]", "7", R"({"EventOrder":3} trailing)",
        std::string(200, '[') + std::string(200, ']'), R"({"a":)" + std::string(100, '[') + std::string(100, ']') + "}"}) {
    zarntest::WriteFile(appConf, content);
    EXPECT_EQ(ZarnConfigUtils::ReadConfigJson(false), defaults) << content;
  }

  zarntest::WriteFile(appConf, R"({"AttributionFlag":1.5,"EventOrder":"7","Extra":true})");
  EXPECT_EQ(ZarnConfigUtils::ReadConfigJson(false), json::parse(R"({"AttributionFlag":0,"EventOrder":0,"Extra":true})"));
  zarntest::WriteFile(sharedConf, R"({"ClientId":5,"Note":"kept"})");
  EXPECT_EQ(ZarnConfigUtils::ReadConfigJson(true), json::parse(R"({"ClientId":"","Note":"kept"})"));

  // A FIFO under the file's name must neither block the reader nor survive the next write.
  fs::remove(appConf);
  ASSERT_EQ(mkfifo(appConf.c_str(), 0600), 0);
  EXPECT_EQ(ZarnConfigUtils::ReadConfigJson(false), defaults);
  ZarnConfigUtils::UpdateConfigJson(false, RaiseEventOrder);
  EXPECT_EQ(zarntest::ReadFile(appConf), R"({"AttributionFlag":0,"EventOrder":1})");
}

TEST(ConfigFiles, ExtraKeysSurviveAndEachGameKeepsItsOwnFile) {
  StorageEnv env;
  ZarnSdk::RecordSteamAppId(480);
  zarntest::WriteFile(ZarnConfigUtils::GetAppConfigPath(), R"({"Custom":{"b":[1,2],"a":"x"},"EventOrder":41})");
  ZarnConfigUtils::UpdateConfigJson(false, RaiseEventOrder);
  EXPECT_EQ(zarntest::ReadFile(env.SdkFolder() / "480" / "AppConf"), R"({"Custom":{"a":"x","b":[1,2]},"EventOrder":42})");

  ZarnSdk::RecordSteamAppId(570);
  ZarnConfigUtils::UpdateConfigJson(false, [](json& c) { c["AttributionFlag"] = 1; });
  ZarnConfigUtils::UpdateConfigJson(false, RaiseEventOrder);
  EXPECT_EQ(zarntest::ReadFile(env.SdkFolder() / "570" / "AppConf"), R"({"AttributionFlag":1,"EventOrder":1})");
  EXPECT_EQ(zarntest::ReadFile(env.SdkFolder() / "480" / "AppConf"), R"({"Custom":{"a":"x","b":[1,2]},"EventOrder":42})");

  // An update whose change fails leaves the file alone.
  const json before = ZarnConfigUtils::ReadConfigJson(false);
  const json returned = ZarnConfigUtils::UpdateConfigJson(false, [](json& c) {
    c["EventOrder"] = 99;
    throw std::runtime_error("change failed");
  });
  EXPECT_EQ(returned, before);
  EXPECT_EQ(ZarnConfigUtils::ReadConfigJson(false), before);
}

TEST(ConfigFiles, UnusableFoldersDropWritesSilentlyAndReadDefaults) {
  if (fs::exists("/ZarnSteamExeSdk")) GTEST_SKIP() << "this machine has the fallback data folder";
  StorageEnv env;
  LogRecorder log;
  ZarnSdk::RecordSteamAppId(480);

  // The per-game folder's name is taken by a file: the game's file moves up a level.
  fs::create_directories(env.SdkFolder());
  zarntest::WriteFile(env.SdkFolder() / "480", "not a folder");
  EXPECT_EQ(ZarnConfigUtils::GetAppConfigPath(), (env.SdkFolder() / "AppConf").string());
  EXPECT_TRUE(log.Contains("Cant Create Path:" + (env.SdkFolder() / "480").string() +
                           ", Be Default:" + env.SdkFolder().string()));
  ZarnConfigUtils::UpdateConfigJson(false, RaiseEventOrder);
  EXPECT_EQ(zarntest::ReadFile(env.SdkFolder() / "AppConf"), R"({"AttributionFlag":0,"EventOrder":1})");

  // The data folder's name is taken by a file (root ignores permission bits, so a file is the
  // dependable way to make creation fail): the never-created fallback folder is used.
  fs::remove_all(env.SdkFolder());
  zarntest::WriteFile(env.SdkFolder(), "not a folder");
  testing::internal::CaptureStdout();
  const std::string dataPath = ZarnConfigUtils::GetSdkDataPath();
  EXPECT_NE(testing::internal::GetCapturedStdout().find(std::string(kCannotCreateFolderLine) + "\n"),
            std::string::npos);
  EXPECT_EQ(dataPath, "/ZarnSteamExeSdk");

  const size_t successLines = log.Messages().size();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ZarnConfigUtils::UpdateConfigJson(false, RaiseEventOrder)["EventOrder"], 1);
    ZarnConfigUtils::WriteCofnigJson(json{{"ClientId", "abc"}}, true);
  }
  EXPECT_FALSE(fs::exists("/ZarnSteamExeSdk"));
  EXPECT_EQ(ZarnConfigUtils::ReadConfigJson(true), ZarnConfigUtils::DefaultSharedConfig());
  for (size_t i = successLines; i < log.Messages().size(); ++i) {
    EXPECT_EQ(log.Messages()[i].rfind("Write Config Json Success.", 0), std::string::npos) << log.Messages()[i];
  }

  // Neither variable usable.
  zarntest::ScopedEnv noXdg("XDG_DATA_HOME", std::nullopt);
  zarntest::ScopedEnv noHome("HOME", std::nullopt);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ZarnConfigUtils::GetSdkDataPath(), "/ZarnSteamExeSdk");
  EXPECT_NE(testing::internal::GetCapturedStdout().find(std::string(kNoLocalDataFolderLine) + "\n"), std::string::npos);
}

TEST(ConfigFiles, ReadOnlyFolderDropsWritesForNonRootUsers) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  StorageEnv env;
  ZarnSdk::RecordSteamAppId(480);
  const fs::path folder = env.SdkFolder() / "480";
  ZarnConfigUtils::UpdateConfigJson(false, RaiseEventOrder);
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  ZarnConfigUtils::UpdateConfigJson(false, RaiseEventOrder);
  EXPECT_EQ(zarntest::ReadFile(folder / "AppConf"), R"({"AttributionFlag":0,"EventOrder":1})");
}

TEST(ConfigFiles, WithoutARecordedSteamAppIdThePerGameFileIsNeverTouched) {
  if (ZarnSdk::RecordedSteamAppId()) GTEST_SKIP() << "needs a process in which Steam never started";
  StorageEnv env;
  EXPECT_EQ(ZarnConfigUtils::GetAppConfigPath(), "");
  EXPECT_EQ(ZarnConfigUtils::ReadConfigJson(false), ZarnConfigUtils::DefaultAppConfig());
  EXPECT_EQ(ZarnConfigUtils::UpdateConfigJson(false, RaiseEventOrder)["EventOrder"], 1);
  EXPECT_EQ(ZarnConfigUtils::UpdateConfigJson(false, RaiseEventOrder)["EventOrder"], 1);
  EXPECT_FALSE(fs::exists(env.Root() / "xdg"));
}

TEST(ConfigFiles, ConcurrentUpdatesNeverLoseAnIncrement) {
  StorageEnv env;
  ZarnSdk::RecordSteamAppId(480);
  constexpr int kPerThread = 1000;
  std::vector<int> seen[2];
  auto worker = [](std::vector<int>& out) {
    for (int i = 0; i < kPerThread; ++i) {
      out.push_back(ZarnConfigUtils::UpdateConfigJson(false, RaiseEventOrder)["EventOrder"].get<int>());
    }
  };
  std::thread a(worker, std::ref(seen[0]));
  std::thread b(worker, std::ref(seen[1]));
  a.join();
  b.join();

  EXPECT_EQ(ZarnConfigUtils::ReadConfigJson(false)["EventOrder"], 2 * kPerThread);
  std::vector<int> all(seen[0]);
  all.insert(all.end(), seen[1].begin(), seen[1].end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "two events got one sequence number";
}
