// The SDK's two JSON state files: "SharedConf" (one per machine: the client id) and
// "<data folder>/<steam app id>/AppConf" (one per game: event counter, attribution flag).
//
// Every read goes to disk and every write replaces the whole file atomically (temporary file
// in the same folder, then rename). Read-change-write sequences of this process are serialised
// by one storage lock: use UpdateConfigJson for them.
#pragma once

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

namespace ZarnSdk {

class ZarnConfigUtils {
 public:
  static std::string GetSdkDataPath();
  static std::string GetSharedConfigPath();
  // Path of the per-game file; creates the per-game folder. Needs the Steam application id
  // that start-up recorded; without one (Steam not started) it returns an empty text, reads
  // then give the default document and writes are dropped.
  static std::string GetAppConfigPath();

  // The file's JSON object, or the default document when the file is missing, unreadable, not
  // JSON or not an object. Members with the wrong JSON type are replaced by their defaults.
  static nlohmann::json ReadConfigJson(bool shared);
  // Replaces the whole file; a write that cannot be made changes nothing and reports nothing.
  static void WriteCofnigJson(nlohmann::json config, bool shared);
  // Read, change and write as one step under the storage lock; returns the document as
  // written (or as it would have been written when the write failed).
  //
  // `change` runs on the caller's thread while the storage lock is held: it must be quick and
  // must not call back into ZarnConfigUtils (the lock is not recursive). It receives an object
  // whose known keys have their documented JSON types. Should it throw, nothing is written,
  // the exception is logged and the document as read is returned.
  static nlohmann::json UpdateConfigJson(bool shared, const std::function<void(nlohmann::json&)>& change);
  // As UpdateConfigJson, but the file is written only when `change` returns true; otherwise
  // the document as read is returned.
  static nlohmann::json MaybeUpdateConfigJson(bool shared, const std::function<bool(nlohmann::json&)>& change);

  static nlohmann::json DefaultAppConfig();
  static nlohmann::json DefaultSharedConfig();
};

}  // namespace ZarnSdk
