#include "Sdk/ZarnConfigUtils.h"

#include <chrono>
#include <iostream>
#include <thread>
#include <utility>
#include <vector>

#include "Sdk/Encoding.h"
#include "Sdk/ReplyReader.h"
#include "Sdk/ZarnLog.h"
#include "platform/Platform.h"

namespace ZarnSdk {
namespace {

using nlohmann::json;
using zarnplatform::MutexLock;

constexpr char kSdkFolderName[] = "ZarnSteamExeSdk";
constexpr char kSharedFileName[] = "SharedConf";
constexpr char kAppFileName[] = "AppConf";

// "无法获取AppData\Local路径" (cannot get the AppData\Local path)
constexpr char kNoLocalDataFolderLine[] = "\xce\xde\xb7\xa8\xbb\xf1\xc8\xa1" "AppData\\Local" "\xc2\xb7\xbe\xb6";
// "无法创建文件夹" (cannot create the folder)
constexpr char kCannotCreateFolderLine[] = "\xce\xde\xb7\xa8\xb4\xb4\xbd\xa8\xce\xc4\xbc\xfe\xbc\xd0";

// Our documents are a few dozen bytes; anything far bigger was not written by us.
constexpr size_t kMaxDocumentBytes = 1 << 20;

json DefaultDocument(bool shared) {
  return shared ? ZarnConfigUtils::DefaultSharedConfig() : ZarnConfigUtils::DefaultAppConfig();
}

bool SameJsonKind(const json& value, const json& reference) {
  // Signed and unsigned integers are one kind to the callers' look-ups.
  if (reference.is_number_integer()) return value.is_number_integer();
  return value.type() == reference.type();
}

// Callers look keys up with their documented types; a member of another type (written by hand
// or by a foreign tool) reads as that key's default, and every other member stays.
void ReplaceMistypedMembers(json& document, const json& defaults) {
  for (const auto& [key, fallback] : defaults.items()) {
    const auto member = document.find(key);
    if (member != document.end() && !SameJsonKind(*member, fallback)) *member = fallback;
  }
}

}  // namespace

ZarnConfigUtils::ZarnConfigUtils(std::optional<std::string> localDataFolder, std::string fallbackFolder)
    : localDataFolder_(std::move(localDataFolder)),
      fallbackFolder_(fallbackFolder.empty() ? zarnplatform::FallbackDataFolder() : std::move(fallbackFolder)) {}

std::optional<uint32_t> ZarnConfigUtils::SteamAppId() const {
  const uint32_t id = steamAppId_.load();
  if (id == 0) return std::nullopt;
  return id;
}

std::string ZarnConfigUtils::GetSdkDataPath() const {
  const auto localData = localDataFolder_ ? localDataFolder_ : zarnplatform::LocalDataFolder();
  if (!localData) {
    std::cout << kNoLocalDataFolderLine << std::endl;
    return fallbackFolder_;
  }
  const std::string path = *localData + zarnplatform::kNativeSeparator + kSdkFolderName;
  if (!zarnplatform::FolderExists(path) && !zarnplatform::CreateFolder(path, /*withParents=*/true)) {
    std::cout << kCannotCreateFolderLine << std::endl;
    return fallbackFolder_;
  }
  return path;
}

std::string ZarnConfigUtils::GetSharedConfigPath() const { return GetSdkDataPath() + "/" + kSharedFileName; }

std::string ZarnConfigUtils::GetAppConfigPath() const {
  const auto appId = SteamAppId();
  if (!appId) return {};
  const std::string base = GetSdkDataPath();
  std::string folder = base + "/" + std::to_string(*appId);
  if (!zarnplatform::FolderExists(folder) && !zarnplatform::CreateFolder(folder, /*withParents=*/false)) {
    LOG(ERROR) << "Cant Create Path:" << folder << ", Be Default:" << base;
    folder = base;
  }
  return folder + "/" + kAppFileName;
}

std::string ZarnConfigUtils::ConfigPath(bool shared) const {
  return shared ? GetSharedConfigPath() : GetAppConfigPath();
}

ZarnConfigUtils::StateFile ZarnConfigUtils::ReadStateFileLocked(const std::string& path, size_t maxBytes) {
  if (path.empty()) return {FileState::Unreadable, {}};  // no Steam app id: no per-game file yet
  for (auto pause = std::chrono::milliseconds(10);; pause *= 2) {
    zarnplatform::ReadFailure failure = zarnplatform::ReadFailure::Other;
    if (std::optional<std::string> content = zarnplatform::ReadWholeFile(path, maxBytes, &failure)) {
      return {FileState::Read, std::move(*content)};
    }
    if (failure == zarnplatform::ReadFailure::TooLarge) return {FileState::Absent, {}};
    // Missing is "nothing stored yet" only where something could have been stored.
    if (failure == zarnplatform::ReadFailure::NotFound) {
      if (zarnplatform::FolderExists(path.substr(0, path.find_last_of("/\\")))) return {FileState::Absent, {}};
      break;
    }
    // Another program may hold the file for a moment (a virus scanner, an indexer, a backup).
    if (pause > std::chrono::milliseconds(80)) break;
    std::this_thread::sleep_for(pause);
  }
  if (!readFailureLogged_) {
    readFailureLogged_ = true;
    LOG(ERROR) << "Read State File Failed:" << path;
  }
  return {FileState::Unreadable, {}};
}

std::optional<json> ZarnConfigUtils::ReadLocked(bool shared) {
  const StateFile file = ReadStateFileLocked(ConfigPath(shared), kMaxDocumentBytes);
  if (file.state == FileState::Unreadable) return std::nullopt;
  std::optional<json> document = file.state == FileState::Read ? reply::ParseObject(file.content) : std::nullopt;
  if (!document) return DefaultDocument(shared);
  ReplaceMistypedMembers(*document, DefaultDocument(shared));
  return document;
}

bool ZarnConfigUtils::WriteLocked(const json& config, bool shared) {
  const std::string path = ConfigPath(shared);
  if (path.empty()) return false;
  const std::string text = CompactJson(config);
  if (!zarnplatform::ReplaceFileAtomically(path, text)) {
    if (!writeFailureLogged_) {
      writeFailureLogged_ = true;
      LOG(ERROR) << "Write Config Json Failed:" << path;
    }
    return false;
  }
  LOG(INFO) << "Write Config Json Success. " << text;
  return true;
}

std::string ZarnConfigUtils::EnsureGameFolder() const {
  const std::string appConfig = GetAppConfigPath();
  return appConfig.empty() ? std::string() : appConfig.substr(0, appConfig.rfind('/'));
}

std::string ZarnConfigUtils::AppFilePath(const std::string& name) const {
  const std::string folder = EnsureGameFolder();
  return folder.empty() ? std::string() : folder + "/" + name;
}

std::optional<std::string> ZarnConfigUtils::ReadAppFile(const std::string& name, size_t maxBytes, bool* unreadable) {
  MutexLock lock(mutex_);
  StateFile file = ReadStateFileLocked(AppFilePath(name), maxBytes);
  if (unreadable != nullptr) *unreadable = file.state == FileState::Unreadable;
  if (file.state != FileState::Read) return std::nullopt;
  return std::move(file.content);
}

bool ZarnConfigUtils::WriteAppFile(const std::string& name, const std::string& content) {
  MutexLock lock(mutex_);
  const std::string path = AppFilePath(name);
  return !path.empty() && zarnplatform::ReplaceFileAtomically(path, content);
}

json ZarnConfigUtils::ReadConfigJson(bool shared) {
  return TryReadConfigJson(shared).value_or(DefaultDocument(shared));
}

std::optional<json> ZarnConfigUtils::TryReadConfigJson(bool shared) {
  try {
    MutexLock lock(mutex_);
    return ReadLocked(shared);
  } catch (const std::exception&) {
    return std::nullopt;  // out of memory while parsing: the content is not known
  }
}

void ZarnConfigUtils::WriteConfigJson(const json& config, bool shared) {
  try {
    MutexLock lock(mutex_);
    WriteLocked(config, shared);
  } catch (const std::exception&) {
    // Out of memory while serialising: like any failed write, nothing changes on disk.
  }
}

std::optional<json> ZarnConfigUtils::UpdateConfigJson(bool shared, const std::function<bool(json&)>& change,
                                                      bool* written) {
  if (written != nullptr) *written = false;
  MutexLock lock(mutex_);
  std::optional<json> document;
  try {
    document = ReadLocked(shared);
  } catch (const std::exception&) {
    // Out of memory while parsing: unknown too.
  }
  // What it holds is unknown: a change made to the defaults would overwrite it.
  if (!document) return std::nullopt;
  json changed = *document;
  try {
    if (!change(changed)) return document;
    const bool replaced = WriteLocked(changed, shared);
    if (written != nullptr) *written = replaced;
  } catch (const std::exception& error) {
    LOG(ERROR) << "Config update failed: " << error.what();
    return document;
  }
  return changed;
}

void ZarnConfigUtils::RemoveStaleTemporaryFiles() {
  MutexLock lock(mutex_);
  std::vector<std::string> folders{GetSdkDataPath()};
  if (std::string game = EnsureGameFolder(); !game.empty()) folders.push_back(std::move(game));
  int removed = 0;
  for (const std::string& folder : folders) {
    removed += zarnplatform::RemoveStaleTemporaryFiles(folder, std::chrono::seconds(60));
  }
  if (removed > 0) LOG(INFO) << "Removed Stale Temporary Files:" << removed;
}

json ZarnConfigUtils::DefaultAppConfig() { return json{{"EventOrder", 0}, {"AttributionFlag", 0}}; }

json ZarnConfigUtils::DefaultSharedConfig() { return json{{"ClientId", ""}}; }

}  // namespace ZarnSdk
