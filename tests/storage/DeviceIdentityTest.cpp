// Client id, machine id and the environment texts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "Sdk/SteamSession.h"
#include "Sdk/ZarnConfigUtils.h"
#include "Sdk/ZarnUtils.h"
#include "StorageTestEnv.h"
#include "platform/Platform.h"

using nlohmann::json;
using ZarnSdk::ZarnUtils;
using zarnstoragetest::LogRecorder;
using zarnstoragetest::StorageEnv;
namespace fs = std::filesystem;

namespace {

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// 32 lower-case hexadecimal digits.
bool IsClientId(const std::string& text) {
  return text.size() == 32 && std::all_of(text.begin(), text.end(), IsLowerHex);
}

// 8-4-4-4-12 lower-case hexadecimal digits, version 4, RFC 4122 variant.
bool IsVersion4Uuid(const std::string& text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphen ? text[i] != '-' : !IsLowerHex(text[i])) return false;
  }
  return text[14] == '4' && std::string("89ab").find(text[19]) != std::string::npos;
}

ino_t InodeOf(const fs::path& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

}  // namespace

TEST(DeviceIdentity, ClientIdIsDerivedOnceThenReadBack) {
  StorageEnv env;
  LogRecorder log;
  const fs::path shared = env.SdkFolder() / "SharedConf";

  const std::string id = ZarnUtils::GetClientId();
  EXPECT_TRUE(IsClientId(id)) << id;
  EXPECT_EQ(id, ZarnUtils::GetMachineGuid());
  EXPECT_EQ(zarntest::ReadFile(shared), R"({"ClientId":")" + id + R"("})");
  EXPECT_TRUE(log.Contains("Init ClientId :" + id));

  // A stored id wins and is not rewritten, in every game.
  const ino_t inode = InodeOf(shared);
  ZarnSdk::RecordSteamAppId(480);
  EXPECT_EQ(ZarnUtils::GetClientId(), id);
  ZarnSdk::RecordSteamAppId(570);
  EXPECT_EQ(ZarnUtils::GetClientId(), id);
  EXPECT_EQ(InodeOf(shared), inode);
  EXPECT_TRUE(log.Contains("Read ClientId :" + id));

  // A stored id is returned as it is, hyphens and all.
  zarntest::WriteFile(shared, R"({"ClientId":"hand-made"})");
  EXPECT_EQ(ZarnUtils::GetClientId(), "hand-made");

  // Empty or mistyped ids are derived anew; other members stay.
  for (const char* stored : {R"({"ClientId":"","Other":1})", R"({"ClientId":7,"Other":1})"}) {
    zarntest::WriteFile(shared, stored);
    EXPECT_EQ(ZarnUtils::GetClientId(), id) << stored;
    EXPECT_EQ(zarntest::ReadFile(shared), R"({"ClientId":")" + id + R"(","Other":1})");
  }
}

TEST(DeviceIdentity, WithoutAMachineIdARandomUuidBecomesTheClientId) {
  StorageEnv env;
  LogRecorder log;
  zarnplatform::OverrideSystemFilesForTesting(zarnplatform::SystemFile::MachineId,
                                              {(env.Root() / "missing").string(), (env.Root() / "missing2").string()});
  EXPECT_EQ(ZarnUtils::GetMachineGuid(), "");

  const std::string id = ZarnUtils::GetClientId();
  EXPECT_TRUE(IsClientId(id)) << id;
  EXPECT_TRUE(log.Contains("MachineGUID is empty, try uuid ..."));
  std::string uuid;
  for (const std::string& message : log.Messages()) {
    if (message.rfind("Random UUID Reuslt:", 0) == 0) uuid = message.substr(19);
  }
  EXPECT_EQ(ZarnSdk::RemoveHyphens(uuid), id);
  EXPECT_EQ(ZarnSdk::ZarnConfigUtils::ReadConfigJson(true)["ClientId"], id);
  EXPECT_EQ(ZarnSdk::RemoveHyphens("a1b2c3d4-e5f6-47a8-9b0c-d1e2f3a4b5c6"), "a1b2c3d4e5f647a89b0cd1e2f3a4b5c6");
}

TEST(DeviceIdentity, MachineIdIsAStableDerivationOfTheSystemId) {
  StorageEnv env("0123456789ABCDEF0123456789abcdef  \n");
  const std::string derived = ZarnUtils::GetMachineGuid();
  EXPECT_TRUE(IsClientId(derived)) << derived;
  EXPECT_EQ(derived.find("0123456789abcdef"), std::string::npos) << "the raw id must not show through";

  const fs::path lower = env.Root() / "lower";
  const fs::path other = env.Root() / "other";
  const fs::path early = env.Root() / "early";
  zarntest::WriteFile(lower, "0123456789abcdef0123456789abcdef\n");
  zarntest::WriteFile(other, "fedcba9876543210fedcba9876543210\n");
  zarntest::WriteFile(early, "uninitialized\n");
  using zarnplatform::SystemFile;
  zarnplatform::OverrideSystemFilesForTesting(SystemFile::MachineId, {lower.string()});
  EXPECT_EQ(ZarnUtils::GetMachineGuid(), derived) << "case and trailing blanks do not change the id";
  zarnplatform::OverrideSystemFilesForTesting(SystemFile::MachineId, {(env.Root() / "none").string(), other.string()});
  const std::string fromFallback = ZarnUtils::GetMachineGuid();
  EXPECT_TRUE(IsClientId(fromFallback));
  EXPECT_NE(fromFallback, derived);
  zarnplatform::OverrideSystemFilesForTesting(SystemFile::MachineId, {early.string(), lower.string()});
  EXPECT_EQ(ZarnUtils::GetMachineGuid(), derived) << "an unset id falls through to the next file";
  zarnplatform::OverrideSystemFilesForTesting(SystemFile::MachineId, {early.string()});
  EXPECT_EQ(ZarnUtils::GetMachineGuid(), "");
}

TEST(DeviceIdentity, RandomUuidsAreVersion4AndDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string uuid = zarnplatform::RandomUuid();
    EXPECT_TRUE(IsVersion4Uuid(uuid)) << uuid;
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST(DeviceIdentity, TimeZoneTextUsesTheStandardOffsetInWholeHours) {
  const std::pair<long, const char*> table[] = {{-480, "UTC+8"}, {300, "UTC-5"}, {0, "UTC0"}, {-330, "UTC+5"},
                                                {210, "UTC-3"},  {-345, "UTC+5"}, {30, "UTC0"}, {-840, "UTC+14"}};
  for (const auto& [bias, text] : table) EXPECT_EQ(ZarnSdk::FormatTimeZone(bias), text) << bias;

  StorageEnv env;
  LogRecorder log;
  // POSIX zone rules need no time-zone database; the daylight rules must not matter at any date.
  const std::pair<const char*, const char*> zones[] = {{"NPT-5:45", "UTC+5"},
                                                       {"EST5EDT,M3.2.0,M11.1.0", "UTC-5"},
                                                       {"NST3:30NDT,M3.2.0,M11.1.0", "UTC-3"},
                                                       {"AEST-10AEDT,M10.1.0,M4.1.0/3", "UTC+10"},
                                                       {"UTC0", "UTC0"}};
  for (const auto& [zone, text] : zones) {
    zarntest::ScopedEnv tz("TZ", zone);
    EXPECT_EQ(ZarnSdk::GetTimeZoneText(), text) << zone;
  }
  EXPECT_TRUE(log.Contains("TimeZone UTC\xa3\xba-345"));
  EXPECT_TRUE(log.Contains("TimeZone UTC\xa3\xba" "300"));
}

TEST(DeviceIdentity, OsAndScreenTexts) {
  zarntest::TempDir dir;
  const auto file = [&](const char* name, const std::string& content) {
    zarntest::WriteFile(dir.path() / name, content);
    return (dir.path() / name).string();
  };
  using zarnplatform::SystemFile;
  const std::pair<std::string, std::string> cases[] = {
      {"NAME=x\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n", "Debian GNU/Linux 12 (bookworm)"},
      {"PRETTY_NAME='Single quoted'", "Single quoted"},
      {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\o/\" # note\n", "Say \"hi\" \\o/"},
      {"PRETTY_NAME=Bare\r\n", "Bare"},
      {"NAME=NoPretty\n", "_unknown"},
  };
  for (const auto& [content, expected] : cases) {
    zarnplatform::OverrideSystemFilesForTesting(SystemFile::OsRelease, {file("os-release", content)});
    EXPECT_EQ(ZarnSdk::GetOsVersion(), expected) << content;
  }
  zarnplatform::OverrideSystemFilesForTesting(
      SystemFile::OsRelease, {(dir.path() / "none").string(), file("vendor", "PRETTY_NAME=\"Vendor OS\"")});
  EXPECT_EQ(ZarnSdk::GetOsVersion(), "Vendor OS");
  zarnplatform::OverrideSystemFilesForTesting(SystemFile::OsRelease, {});

  EXPECT_EQ(zarnplatform::WindowsVersionName(10, 0, 19044), "Windows 10");
  EXPECT_EQ(zarnplatform::WindowsVersionName(10, 0, 22000), "Windows 10");
  EXPECT_EQ(zarnplatform::WindowsVersionName(10, 0, 22631), "Windows 11");
  EXPECT_EQ(zarnplatform::WindowsVersionName(6, 3, 9600), "Windows 8.1");
  EXPECT_EQ(zarnplatform::WindowsVersionName(6, 0, 6002), "_unknown");

  {
    zarntest::ScopedEnv noDisplay("DISPLAY", std::nullopt);
    EXPECT_EQ(ZarnSdk::GetResolutionText(), "0x0");
  }
  if (!fs::exists("/tmp/.X11-unix/X97")) {
    zarntest::ScopedEnv deadDisplay("DISPLAY", ":97");
    EXPECT_EQ(ZarnSdk::GetResolutionText(), "0x0");
  }
}
