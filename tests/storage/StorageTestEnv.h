// Shared scaffolding of the storage tests: a private data folder through XDG_DATA_HOME and HOME,
// a machine-id file the tests control, and a recorder of the SDK's log messages.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace zarnstoragetest {

class StorageEnv {
 public:
  // XDG_DATA_HOME points at a folder that does not exist yet (the SDK creates it with its
  // parents); the machine id comes from `machineId` written to a file here.
  explicit StorageEnv(const std::string& machineId = "0123456789abcdef0123456789abcdef\n");
  ~StorageEnv();

  std::filesystem::path Root() const { return dir_.path(); }
  std::filesystem::path SdkFolder() const { return dir_.path() / "xdg" / "data" / "ZarnSteamExeSdk"; }
  std::filesystem::path MachineIdFile() const { return dir_.path() / "machine-id"; }

 private:
  zarntest::TempDir dir_;
  zarntest::ScopedEnv xdg_;
  zarntest::ScopedEnv home_;
};

// Every message logged through easylogging++ while an instance lives.
class LogRecorder {
 public:
  LogRecorder();
  ~LogRecorder();
  std::vector<std::string> Messages();
  bool Contains(const std::string& message);
  bool AnyStartsWith(const std::string& prefix);
};

}  // namespace zarnstoragetest
