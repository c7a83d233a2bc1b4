// The SDK's two state files and the client id, on the real file system of a temporary profile.
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <thread>

#include "Os.h"
#include "SdkRig.h"
#include "Sdk/ZarnConfigUtils.h"
#include "Sdk/ZarnLog.h"
#include "Sdk/ZarnUtils.h"
#include "platform/Platform.h"

namespace zarntest {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ZarnSdk::ZarnConfigUtils;
using ZarnSdk::ZarnUtils;

// A store on a fresh profile, for the game 480. The fallback folder is named but not made.
struct Profile {
  TempDir dir;
  fs::path data = dir.path() / "data";
  fs::path fallback = dir.path() / "fallback";
  fs::path sdk = data / "ZarnSteamExeSdk";
  ZarnConfigUtils store{data.string(), fallback.string()};
  Profile() { store.SetSteamAppId(480); }
};

bool RaiseOrder(json& config) {
  config["EventOrder"] = config.value("EventOrder", 0) + 1;
  return true;
}
// The document as written; null when the file could not be read (and so was not written).
json RaiseEventOrder(ZarnConfigUtils& store) { return store.UpdateConfigJson(false, RaiseOrder).value_or(json()); }

size_t EntriesIn(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

bool IsHex32(const std::string& text) {
  return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Points the machine id at test files; at the system's own again on destruction.
struct MachineIdSource {
  void Use(std::vector<std::string> files) {
    zarnplatform::OverrideSystemFilesForTesting(zarnplatform::SystemFile::MachineId, std::move(files));
  }
  ~MachineIdSource() { Use({}); }
};

TEST(Storage, FirstRunReadsDefaultsAndMakesOnlyFolders) {
  Profile p;
  EXPECT_EQ(p.store.ReadConfigJson(false), json::parse(R"({"AttributionFlag":0,"EventOrder":0})"));
  EXPECT_EQ(p.store.ReadConfigJson(true), json::parse(R"({"ClientId":""})"));
  EXPECT_EQ(fs::path(p.store.GetAppConfigPath()), p.sdk / "480" / "AppConf");
  EXPECT_EQ(EntriesIn(p.sdk), 1u);
  EXPECT_EQ(EntriesIn(p.sdk / "480"), 0u);
  // Until Steam names the game there is no per-game file: defaults are read, nothing is written.
  ZarnConfigUtils noGame(p.data.string(), p.fallback.string());
  EXPECT_EQ(noGame.GetAppConfigPath(), "");
  EXPECT_EQ(noGame.ReadConfigJson(false), ZarnConfigUtils::DefaultAppConfig());
  EXPECT_TRUE(RaiseEventOrder(noGame).is_null());
  EXPECT_EQ(EntriesIn(p.sdk), 1u);
  EXPECT_EQ(RaiseEventOrder(p.store)["EventOrder"], 1);
  EXPECT_EQ(ReadFile(p.sdk / "480" / "AppConf"), R"({"AttributionFlag":0,"EventOrder":1})");
  EXPECT_EQ(EntriesIn(p.sdk / "480"), 1u) << "a temporary file stayed behind";
  // Temporary files a crash left go once they are a minute old: a younger one may be another
  // process's write under way.
  const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(2);
  for (const fs::path& stray : {p.sdk / "480" / "AppConf.tmp-a1b2c3", p.sdk / "SharedConf.tmp-d4e5f6"}) {
    WriteFile(stray, "{");
    fs::last_write_time(stray, old);
  }
  WriteFile(p.sdk / "480" / "AppConf.tmp-busy00", "{");
  p.store.RemoveStaleTemporaryFiles();
  EXPECT_EQ(EntriesIn(p.sdk), 1u);
  EXPECT_TRUE(fs::exists(p.sdk / "480" / "AppConf.tmp-busy00"));
  EXPECT_EQ(EntriesIn(p.sdk / "480"), 2u);
  // Another game on this machine shares the client id and keeps a counter of its own.
  ZarnConfigUtils otherGame(p.data.string(), p.fallback.string());
  otherGame.SetSteamAppId(570);
  EXPECT_EQ(ZarnUtils::GetClientId(otherGame), ZarnUtils::GetClientId(p.store));
  RaiseEventOrder(otherGame);
  RaiseEventOrder(otherGame);
  EXPECT_EQ(ReadFile(p.sdk / "570" / "AppConf"), R"({"AttributionFlag":0,"EventOrder":2})");
}

TEST(Storage, DamagedOrForeignFilesReadAsDefaultsKeepingOtherMembers) {
  Profile p;
  const std::string appConf = p.store.GetAppConfigPath();
  const std::string sharedConf = p.store.GetSharedConfigPath();
  const json appDefaults = ZarnConfigUtils::DefaultAppConfig();
  struct Case { bool shared; std::string content; json read; };
  const std::vector<Case> cases = {
      {false, "{}", json::object()}, {false, "", appDefaults}, {false, "[1,2]", appDefaults}, {false, "7", appDefaults},
      {false, R"({"AttributionFlag":1,"EventOr)", appDefaults}, {false, R"({"EventOrder":3} trailing)", appDefaults},
      {false, R"({"EventOrder":3})" + std::string(1, '\0') + "x", appDefaults},  // not cut short at the zero
      {false, std::string(200, '[') + std::string(200, ']'), appDefaults},
      {false, R"({"a":)" + std::string(100, '[') + std::string(100, ']') + "}", appDefaults},
      {false, R"({"EventOrder":5,"Pad":")" + std::string(2 << 20, 'p') + "\"}", appDefaults},
      {false, R"({"AttributionFlag":1.5,"EventOrder":"7","Extra":true})",
       json::parse(R"({"AttributionFlag":0,"EventOrder":0,"Extra":true})")},
      {true, R"({"ClientId":5,"Note":"kept"})", json::parse(R"({"ClientId":"","Note":"kept"})")},
      {true, R"(["ClientId"])", ZarnConfigUtils::DefaultSharedConfig()},
  };
  for (const Case& c : cases) {
    WriteFile(c.shared ? sharedConf : appConf, c.content);
    EXPECT_EQ(p.store.ReadConfigJson(c.shared), c.read) << c.content.substr(0, 60);
  }
  // The next write replaces what could not be read; members the SDK does not know survive it.
  WriteFile(appConf, "{}");
  RaiseEventOrder(p.store);
  EXPECT_EQ(ReadFile(appConf), R"({"EventOrder":1})");
  WriteFile(appConf, R"({"Custom":{"b":[1,2],"a":"x"},"EventOrder":41})");
  RaiseEventOrder(p.store);
  EXPECT_EQ(ReadFile(appConf), R"({"Custom":{"a":"x","b":[1,2]},"EventOrder":42})");
}

// A named pipe under the file's name is no state file: unknown, neither read (which would block
// until another end opened) nor written over. Should either open the pipe, past a deadline the
// test opens both ends itself, as often as it takes to let it go.
TEST(Storage, ANamedPipeAtTheStatePathIsUnknownAndBlocksNothing) {
  Profile p;
  const std::string appConf = p.store.GetAppConfigPath();
  if (!os::MakeFifo(appConf)) GTEST_SKIP() << "no named pipes on this file system";
  std::atomic<bool> finished{false};
  std::optional<json> read;
  json raised;
  std::thread user([&] {
    os::IgnoreBrokenPipesOnThisThread();
    read = p.store.TryReadConfigJson(false);
    raised = RaiseEventOrder(p.store);
    finished = true;
  });
  const bool inTime = WaitUntil([&] { return finished.load(); });
  while (!finished) std::fstream(appConf, std::ios::in | std::ios::out);
  user.join();
  EXPECT_TRUE(inTime) << "blocked on the pipe";
  EXPECT_FALSE(read.has_value());
  EXPECT_TRUE(raised.is_null() && fs::is_fifo(appConf)) << "written over";
}

// Folders are made unusable by files in their way, which stops root as much as anyone.
TEST(Storage, UnusableFoldersFallBackOrDropWrites) {
  Profile p;
  ScopedSdkLog log;
  // The per-game folder cannot be made: the game's file goes in the data folder itself.
  fs::create_directories(p.sdk);
  WriteFile(p.sdk / "480", "not a folder");
  const std::string base = p.store.GetSdkDataPath();
  EXPECT_EQ(fs::path(p.store.GetAppConfigPath()), p.sdk / "AppConf");
  EXPECT_EQ(LogTap::StartingWith("Cant Create Path:").at(0), "Cant Create Path:" + base + "/480, Be Default:" + base);
  RaiseEventOrder(p.store);
  EXPECT_EQ(ReadFile(p.sdk / "AppConf"), R"({"AttributionFlag":0,"EventOrder":1})");
  // The data folder cannot be made: the fallback folder, which the SDK never makes itself. While
  // it is missing nothing can be kept, so nothing is known either.
  Profile r;
  fs::create_directories(r.data);
  WriteFile(r.sdk, "not a folder");
  EXPECT_EQ(fs::path(r.store.GetSdkDataPath()), r.fallback);
  EXPECT_TRUE(RaiseEventOrder(r.store).is_null());
  r.store.WriteConfigJson(json{{"ClientId", "abc"}}, true);
  EXPECT_EQ(r.store.ReadConfigJson(true), ZarnConfigUtils::DefaultSharedConfig());
  EXPECT_FALSE(fs::exists(r.fallback));
  fs::create_directory(r.fallback);
  RaiseEventOrder(r.store);
  EXPECT_EQ(ReadFile(r.fallback / "480" / "AppConf"), R"({"AttributionFlag":0,"EventOrder":1})");
}

TEST(Storage, ClientIdIsDerivedOnceAndKept) {
  Profile p;
  const fs::path unset = p.dir.path() / "unset", upper = p.dir.path() / "upper", lower = p.dir.path() / "lower";
  WriteFile(unset, "uninitialized\n");  // as during early boot: not an id
  WriteFile(upper, "0123456789ABCDEF0123456789ABCDEF  \n");
  WriteFile(lower, "0123456789abcdef0123456789abcdef\n");
  MachineIdSource source;
  source.Use({unset.string(), upper.string()});
  const std::string id = ZarnUtils::GetClientId(p.store);
  EXPECT_TRUE(IsHex32(id)) << id;
  EXPECT_NE(id, "0123456789abcdef0123456789abcdef") << "the raw machine id must not leave the machine";
  const fs::path shared = p.sdk / "SharedConf";
  EXPECT_EQ(ReadFile(shared), R"({"ClientId":")" + id + R"("})");
  source.Use({lower.string()});
  Profile other;  // another profile on this machine derives the same id
  EXPECT_EQ(ZarnUtils::GetClientId(other.store), id);
  // A stored id is returned as it is, without a write; an empty or mistyped one is derived anew.
  const std::string handMade = R"({ "ClientId" : "hand-made" })";
  WriteFile(shared, handMade);
  EXPECT_EQ(ZarnUtils::GetClientId(p.store), "hand-made");
  EXPECT_EQ(ReadFile(shared), handMade);
  for (const char* stored : {R"({"ClientId":"","Other":1})", R"({"ClientId":7,"Other":1})"}) {
    WriteFile(shared, stored);
    EXPECT_EQ(ZarnUtils::GetClientId(p.store), id) << stored;
    EXPECT_EQ(ReadFile(shared), R"({"ClientId":")" + id + R"(","Other":1})");
  }
  // The registry's MachineGuid loses its hyphens. Without one, or with hyphens alone: a random
  // (version 4) UUID without its hyphens, kept once stored.
  Profile guid;
  EXPECT_EQ(ZarnUtils::GetClientId(guid.store, "a1b2c3d4-e5f6-47a8-9b0c-d1e2f3a4b5c6"),
            "a1b2c3d4e5f647a89b0cd1e2f3a4b5c6");
  for (const std::string none : {"", "------------------------------------"}) {
    Profile third;
    const std::string random = ZarnUtils::GetClientId(third.store, none);
    EXPECT_TRUE(IsHex32(random) && random[12] == '4' && std::string("89ab").find(random[16]) != std::string::npos);
    Profile fourth;
    EXPECT_NE(ZarnUtils::GetClientId(fourth.store, none), random);
    EXPECT_EQ(ZarnUtils::GetClientId(third.store, none), random);
  }
  Profile blocked;  // a shared file that cannot be read may hold an id: one for this run only
  fs::create_directories(blocked.sdk / "SharedConf");
  EXPECT_EQ(ZarnUtils::GetClientId(blocked.store, "a-b"), "ab");
}

TEST(Storage, TimeZoneIsTheStandardOffsetInWholeHours) {
  const std::pair<long, const char*> zones[] = {{-480, "UTC+8"}, {300, "UTC-5"}, {0, "UTC0"},   {-330, "UTC+5"},
                                                {210, "UTC-3"},  {-345, "UTC+5"}, {30, "UTC0"}, {-840, "UTC+14"}};
  for (const auto& [bias, text] : zones) EXPECT_EQ(ZarnSdk::FormatTimeZone(bias), text) << bias;
}

constexpr size_t kPadding = 64 * 1024;  // a document that takes several system calls to write

// Rewrites the per-game file until, somewhere inside a later write, a thread of its own ends
// the process.
ZARN_CHILD_ROLE(RewriteAppConf) {
  const std::string data = os::GetEnv("ZARN_TEST_DATA").value_or("");
  const int writes = std::stoi(os::GetEnv("ZARN_TEST_WRITES").value_or("1"));
  ZarnSdk::ConfigureLogger(false);  // quiet: every write would log its whole document
  ZarnConfigUtils store(data, data + "/fallback");
  store.SetSteamAppId(480);
  std::atomic<int> done{0};
  std::thread([&done, writes] {
    for (int seen = done.load(); seen < writes; seen = done.load()) done.wait(seen);
    std::_Exit(42);
  }).detach();
  const std::string padding(kPadding, 'p');
  for (;;) {
    store.UpdateConfigJson(false, [&](json& c) {
      c["Padding"] = padding;
      return RaiseOrder(c);
    });
    done.fetch_add(1);
    done.notify_one();
  }
}

TEST(Storage, WriterKilledMidWriteLeavesAWholeDocument) {
  Profile p;
  const fs::path file = p.sdk / "480" / "AppConf";
  std::random_device random;
  const int writes = std::uniform_int_distribution<int>(5, 30)(random);
  // Looked at all along: once written, the file is never seen shorter than a whole document.
  std::atomic<bool> writing{true}, torn{false};
  std::thread reader([&] {
    for (std::error_code notYet; writing.load();) {
      if (fs::file_size(file, notYet) < kPadding) torn = true;
    }
  });
  const os::Process writer =
      os::StartProcess(os::ExecutablePath(), {"--zarn-child=RewriteAppConf"},
                       {{"ZARN_TEST_DATA", p.data.string()}, {"ZARN_TEST_WRITES", std::to_string(writes)}});
  const std::optional<int> status = os::WaitForExit(writer, 60s);
  if (!status) os::Kill(writer);
  writing = false;
  reader.join();
  EXPECT_EQ(status, 42) << "the writer did not end in time";
  EXPECT_FALSE(torn) << "the file was seen cut short";
  const json survivor = json::parse(ReadFile(file), nullptr, false);
  ASSERT_TRUE(survivor.is_object() && survivor.value("Padding", std::string()).size() == kPadding);
  EXPECT_GE(survivor.value("EventOrder", 0), writes);
  EXPECT_EQ(RaiseEventOrder(p.store)["EventOrder"], survivor.value("EventOrder", 0) + 1);
}

// The log can hold the session token and the Steam ticket: no file while logging is off, owner
// only when on, and a link planted under its name is not followed.
TEST(Storage, LogFileOnlyWhileLoggingOwnerOnlyNeverThroughALink) {
  ScopedSdkLog on;  // in a temporary working folder
  const fs::path log = fs::current_path() / "zarnlog.log", victim = fs::current_path() / "victim";
  LOG(INFO) << "token=secret";
  EXPECT_NE(ReadFile(log).find("token=secret"), std::string::npos);
  EXPECT_TRUE(os::OnlyOwnerMayRead(log.string()));
  ZarnSdk::ConfigureLogger(false);
  fs::remove(log);
  LOG(INFO) << "while off";
  EXPECT_FALSE(fs::exists(log));
  WriteFile(victim, "");
  std::error_code noLinks;  // a system without symbolic links for this user has nothing to plant
  fs::create_symlink(victim, log, noLinks);
  if (!noLinks) {
    ZarnSdk::ConfigureLogger(true);
    LOG(INFO) << "through the link";
    ZarnSdk::ConfigureLogger(false);
    EXPECT_EQ(ReadFile(victim), "");
  }
}

}  // namespace
}  // namespace zarntest
