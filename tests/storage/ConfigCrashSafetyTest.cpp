// A process killed in the middle of its writes leaves a whole document, and a reader never sees
// a half-written one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Sdk/SteamSession.h"
#include "Sdk/ZarnConfigUtils.h"
#include "Sdk/ZarnLog.h"
#include "StorageTestEnv.h"

using nlohmann::json;
using ZarnSdk::ZarnConfigUtils;

TEST(ConfigCrashSafety, KilledWriterLeavesAValidDocumentAndReadersNeverSeeATornOne) {
  zarnstoragetest::StorageEnv env;
  ZarnSdk::RecordSteamAppId(480);
  const std::string path = ZarnConfigUtils::GetAppConfigPath();
  // Large enough that writing one document takes several system calls.
  const std::string padding(64 * 1024, 'p');

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ZarnSdk::ConfigureLogger(false);
    for (;;) {
      ZarnConfigUtils::UpdateConfigJson(false, [&](json& c) {
        c["EventOrder"] = c.value("EventOrder", 0) + 1;
        c["Padding"] = padding;
      });
    }
  }

  // Read concurrently with the child's rewrites: every document seen must be whole, and the
  // counter may only grow.
  int lastSeen = 0;
  int reads = 0;
  bool torn = false;
  const bool progressed = zarntest::WaitUntil([&] {
    const std::string content = zarntest::ReadFile(path);
    if (content.empty() && lastSeen == 0) return false;  // not written yet
    const json document = json::parse(content, nullptr, false);
    ++reads;
    if (document.is_discarded() || document.value("EventOrder", -1) < lastSeen ||
        document.value("Padding", std::string()) != padding) {
      torn = true;
      return true;
    }
    lastSeen = document["EventOrder"].get<int>();
    return lastSeen >= 30;
  }, std::chrono::seconds(60));

  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  ASSERT_TRUE(progressed) << "the writer made no progress";
  EXPECT_FALSE(torn) << "a reader saw a partial document after " << reads << " reads";

  const json survivor = json::parse(zarntest::ReadFile(path), nullptr, false);
  ASSERT_FALSE(survivor.is_discarded());
  EXPECT_GE(survivor["EventOrder"].get<int>(), lastSeen);
  EXPECT_EQ(survivor["Padding"], padding);
  // The SDK's own reader agrees and the next update continues from the survivor.
  EXPECT_EQ(ZarnConfigUtils::UpdateConfigJson(false, [](json& c) { c["EventOrder"] = c["EventOrder"].get<int>() + 1; })
                ["EventOrder"],
            survivor["EventOrder"].get<int>() + 1);
}
