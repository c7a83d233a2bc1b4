// The SDK's two JSON state files: "SharedConf" (one per machine: the client id) and
// "<data folder>/<steam app id>/AppConf" (one per game: event counter, attribution flag).
//
// Every read goes to disk and every write replaces the whole file atomically (temporary file
// in the same folder, then rename). `mutex_` serialises every file access of this store, so a
// read-change-write (UpdateConfigJson) cannot interleave with another and lose its update. It
// is taken after any lock of the callers' and nothing but the logger is used under it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/Mutex.h"

namespace ZarnSdk {

class ZarnConfigUtils {
 public:
  // `localDataFolder`: the folder the SDK's own folder goes into; nullopt for the user's local
  // data folder as the platform names it. `fallbackFolder`: used when that folder is unknown or
  // the SDK's folder cannot be made in it; never created by the SDK (empty: the platform's).
  explicit ZarnConfigUtils(std::optional<std::string> localDataFolder, std::string fallbackFolder = {});

  // The running game's Steam application id, recorded once Steam has started: the per-game
  // file lives under it. Until then reads give the default document and writes are dropped.
  void SetSteamAppId(uint32_t appId) { steamAppId_.store(appId); }
  std::optional<uint32_t> SteamAppId() const;

  std::string GetSdkDataPath() const;
  std::string GetSharedConfigPath() const;
  // Path of the per-game file, creating the per-game folder; empty without a Steam app id.
  std::string GetAppConfigPath() const;

  // The file's JSON object, or the default document when the file is missing, damaged (not
  // JSON, not an object, far too big) or there is no per-game file yet (no Steam app id).
  // Members of the wrong JSON type are replaced by their defaults.
  nlohmann::json ReadConfigJson(bool shared) EXCLUDES(mutex_);
  // The same, except that a file which exists but cannot be read (held open by another
  // program without sharing, no access, not a regular file, an I/O error), or whose folder does
  // not exist so that nothing can be kept there, gives nullopt: its content is unknown, not
  // absent. A failed read is tried again for a short while (about 150 ms) first; the first
  // failure of this store is logged.
  std::optional<nlohmann::json> TryReadConfigJson(bool shared) EXCLUDES(mutex_);
  // Replaces the whole file; a write that cannot be made changes nothing and reports nothing.
  void WriteConfigJson(const nlohmann::json& config, bool shared) EXCLUDES(mutex_);
  // Read, change and write as one step; returns the document as written (or as it would have
  // been). `change` runs under the store's lock: it must be quick and must not use this store.
  // When it returns false, or throws (logged), nothing is written and the document as read
  // comes back. A file that cannot be read (see TryReadConfigJson) is neither changed nor
  // written: nullopt. `written` (when given) tells whether the file was replaced.
  std::optional<nlohmann::json> UpdateConfigJson(bool shared, const std::function<bool(nlohmann::json&)>& change,
                                                 bool* written = nullptr) EXCLUDES(mutex_);

  // Another file of the game's folder, whole: nullopt when missing, larger than `maxBytes` or
  // not readable, and (`unreadable` true) when it exists but cannot be read after the same
  // retries as TryReadConfigJson, or nothing can be kept (no Steam app id, no folder).
  std::optional<std::string> ReadAppFile(const std::string& name, size_t maxBytes, bool* unreadable = nullptr)
      EXCLUDES(mutex_);
  // Replaces a file of the game's folder atomically, readable by this user only; false when
  // it cannot be written.
  bool WriteAppFile(const std::string& name, const std::string& content) EXCLUDES(mutex_);

  // Removes temporary files a crash left behind in the SDK's folder and the game's folder. Only
  // files older than a minute go: another game's SDK may be writing one right now.
  void RemoveStaleTemporaryFiles() EXCLUDES(mutex_);

  static nlohmann::json DefaultAppConfig();
  static nlohmann::json DefaultSharedConfig();

 private:
  enum class FileState { Read, Absent, Unreadable };
  struct StateFile {
    FileState state = FileState::Absent;
    std::string content;
  };

  std::string ConfigPath(bool shared) const;
  // Reads a state file, trying a failed read again for a short while; Absent also stands for a
  // file too big to be one of ours.
  StateFile ReadStateFileLocked(const std::string& path, size_t maxBytes) REQUIRES(mutex_);
  std::optional<nlohmann::json> ReadLocked(bool shared) REQUIRES(mutex_);
  bool WriteLocked(const nlohmann::json& config, bool shared) REQUIRES(mutex_);
  // The game's folder (where AppConf is), made when missing; empty without a Steam app id.
  std::string EnsureGameFolder() const;
  // Path of a file in the game's folder, making the folder when missing; empty without a Steam
  // app id.
  std::string AppFilePath(const std::string& name) const;

  const std::optional<std::string> localDataFolder_;
  const std::string fallbackFolder_;
  std::atomic<uint32_t> steamAppId_{0};  // 0 is never a Steam application id: "not known"
  zarnplatform::Mutex mutex_;
  bool readFailureLogged_ GUARDED_BY(mutex_) = false;
  bool writeFailureLogged_ GUARDED_BY(mutex_) = false;
};

}  // namespace ZarnSdk
