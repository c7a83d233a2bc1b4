#include "Sdk/ZarnConfigUtils.h"

#include <iostream>
#include <mutex>
#include <optional>

#include "Sdk/SteamSession.h"
#include "Sdk/ZarnLog.h"
#include "platform/Platform.h"

namespace ZarnSdk {
namespace {

using nlohmann::json;

constexpr char kSdkFolderName[] = "ZarnSteamExeSdk";
constexpr char kSharedFileName[] = "SharedConf";
constexpr char kAppFileName[] = "AppConf";

// "无法获取AppData\Local路径" (cannot get the AppData\Local path)
constexpr char kNoLocalDataFolderLine[] = "\xce\xde\xb7\xa8\xbb\xf1\xc8\xa1" "AppData\\Local" "\xc2\xb7\xbe\xb6";
// "无法创建文件夹" (cannot create the folder)
constexpr char kCannotCreateFolderLine[] = "\xce\xde\xb7\xa8\xb4\xb4\xbd\xa8\xce\xc4\xbc\xfe\xbc\xd0";

// Our documents are a few dozen bytes. Anything far bigger or deeper was not written by us and
// would only cost memory or, when rewritten, stack depth.
constexpr size_t kMaxDocumentBytes = 1 << 20;
constexpr int kMaxDocumentDepth = 64;

// Serialises every file access of this process, so that a read-change-write cannot interleave
// with another and lose its update.
std::mutex& StorageMutex() {
  static std::mutex mutex;
  return mutex;
}

json DefaultDocument(bool shared) {
  return shared ? ZarnConfigUtils::DefaultSharedConfig() : ZarnConfigUtils::DefaultAppConfig();
}

std::string ConfigPath(bool shared) {
  return shared ? ZarnConfigUtils::GetSharedConfigPath() : ZarnConfigUtils::GetAppConfigPath();
}

bool SameJsonKind(const json& value, const json& reference) {
  // Signed and unsigned integers are one kind to the callers' look-ups.
  if (reference.is_number_integer()) return value.is_number_integer();
  return value.type() == reference.type();
}

std::optional<json> ParseObject(const std::string& text) {
  bool tooDeep = false;
  const json::parser_callback_t depthGuard = [&tooDeep](int depth, json::parse_event_t, json&) {
    if (depth > kMaxDocumentDepth) tooDeep = true;
    return !tooDeep;
  };
  json parsed = json::parse(text, depthGuard, /*allow_exceptions=*/false);
  if (tooDeep || parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
  return parsed;
}

// Callers look keys up with their documented types; a member of another type (written by hand
// or by a foreign tool) reads as that key's default, and every other member stays.
void ReplaceMistypedMembers(json& document, const json& defaults) {
  for (const auto& [key, fallback] : defaults.items()) {
    const auto member = document.find(key);
    if (member != document.end() && !SameJsonKind(*member, fallback)) *member = fallback;
  }
}

json ReadUnlocked(bool shared) {
  const std::string path = ConfigPath(shared);
  if (path.empty()) return DefaultDocument(shared);
  const auto content = zarnplatform::ReadWholeFile(path, kMaxDocumentBytes);
  if (!content) return DefaultDocument(shared);
  auto document = ParseObject(*content);
  if (!document) return DefaultDocument(shared);
  ReplaceMistypedMembers(*document, DefaultDocument(shared));
  return std::move(*document);
}

void WriteUnlocked(const json& config, bool shared) {
  const std::string path = ConfigPath(shared);
  if (path.empty()) return;
  // Invalid UTF-8 in a member must not make serialisation throw.
  const std::string text = config.dump(-1, ' ', false, json::error_handler_t::replace);
  if (!zarnplatform::ReplaceFileAtomically(path, text)) return;
  LOG(INFO) << "Write Config Json Success. " << text;
}

}  // namespace

std::string ZarnConfigUtils::GetSdkDataPath() {
  const auto localData = zarnplatform::LocalDataFolder();
  if (!localData) {
    std::cout << kNoLocalDataFolderLine << std::endl;
    return zarnplatform::FallbackDataFolder();
  }
  const std::string path = *localData + zarnplatform::kNativeSeparator + kSdkFolderName;
  if (!zarnplatform::FolderExists(path) && !zarnplatform::CreateFolder(path, /*withParents=*/true)) {
    std::cout << kCannotCreateFolderLine << std::endl;
    return zarnplatform::FallbackDataFolder();
  }
  return path;
}

std::string ZarnConfigUtils::GetSharedConfigPath() { return GetSdkDataPath() + "/" + kSharedFileName; }

std::string ZarnConfigUtils::GetAppConfigPath() {
  // Only the id recorded when Steam started: asking Steam itself could reach it before its
  // start or after its shutdown.
  const auto appId = RecordedSteamAppId();
  if (!appId) return {};
  const std::string base = GetSdkDataPath();
  std::string folder = base + "/" + std::to_string(*appId);
  if (!zarnplatform::FolderExists(folder) && !zarnplatform::CreateFolder(folder, /*withParents=*/false)) {
    LOG(ERROR) << "Cant Create Path:" << folder << ", Be Default:" << base;
    folder = base;
  }
  return folder + "/" + kAppFileName;
}

nlohmann::json ZarnConfigUtils::ReadConfigJson(bool shared) {
  try {
    std::lock_guard<std::mutex> lock(StorageMutex());
    return ReadUnlocked(shared);
  } catch (const std::exception&) {
    return DefaultDocument(shared);
  }
}

void ZarnConfigUtils::WriteCofnigJson(nlohmann::json config, bool shared) {
  try {
    std::lock_guard<std::mutex> lock(StorageMutex());
    WriteUnlocked(config, shared);
  } catch (const std::exception&) {
    // Out of memory while serialising: like any failed write, nothing changes on disk.
  }
}

nlohmann::json ZarnConfigUtils::UpdateConfigJson(bool shared, const std::function<void(nlohmann::json&)>& change) {
  return MaybeUpdateConfigJson(shared, [&change](json& document) {
    change(document);
    return true;
  });
}

nlohmann::json ZarnConfigUtils::MaybeUpdateConfigJson(bool shared,
                                                      const std::function<bool(nlohmann::json&)>& change) {
  std::lock_guard<std::mutex> lock(StorageMutex());
  json document;
  try {
    document = ReadUnlocked(shared);
  } catch (const std::exception&) {
    document = DefaultDocument(shared);
  }
  json changed = document;
  try {
    if (!change(changed)) return document;
    WriteUnlocked(changed, shared);
  } catch (const std::exception& error) {
    LOG(ERROR) << "Config update failed: " << error.what();
    return document;
  }
  return changed;
}

nlohmann::json ZarnConfigUtils::DefaultAppConfig() { return json{{"EventOrder", 0}, {"AttributionFlag", 0}}; }

nlohmann::json ZarnConfigUtils::DefaultSharedConfig() { return json{{"ClientId", ""}}; }

}  // namespace ZarnSdk
