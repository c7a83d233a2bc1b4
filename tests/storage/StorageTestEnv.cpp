#include "StorageTestEnv.h"

#include <easylogging++.h>

#include <algorithm>

#include "Sdk/ZarnLog.h"
#include "platform/Platform.h"

namespace zarnstoragetest {
namespace {

std::mutex recordedMutex;
std::vector<std::string> recorded;

class RecordingDispatch : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData* data) override {
    std::lock_guard<std::mutex> lock(recordedMutex);
    recorded.push_back(data->logMessage()->message());
  }
};

constexpr char kRecorderId[] = "zarn-storage-test-recorder";

}  // namespace

StorageEnv::StorageEnv(const std::string& machineId)
    : xdg_("XDG_DATA_HOME", (dir_.path() / "xdg" / "data").string()), home_("HOME", (dir_.path() / "home").string()) {
  zarntest::WriteFile(MachineIdFile(), machineId);
  zarnplatform::OverrideSystemFilesForTesting(zarnplatform::SystemFile::MachineId, {MachineIdFile().string()});
  // The log file lands in the working directory; keep it inside the temporary folder.
  std::filesystem::current_path(dir_.path());
  ZarnSdk::ConfigureLogger(true);
}

StorageEnv::~StorageEnv() {
  zarnplatform::OverrideSystemFilesForTesting(zarnplatform::SystemFile::MachineId, {});
  std::filesystem::current_path(std::filesystem::temp_directory_path());
}

LogRecorder::LogRecorder() {
  {
    std::lock_guard<std::mutex> lock(recordedMutex);
    recorded.clear();
  }
  el::Helpers::installLogDispatchCallback<RecordingDispatch>(kRecorderId);
}

LogRecorder::~LogRecorder() { el::Helpers::uninstallLogDispatchCallback<RecordingDispatch>(kRecorderId); }

std::vector<std::string> LogRecorder::Messages() {
  std::lock_guard<std::mutex> lock(recordedMutex);
  return recorded;
}

bool LogRecorder::Contains(const std::string& message) {
  const auto messages = Messages();
  return std::find(messages.begin(), messages.end(), message) != messages.end();
}

bool LogRecorder::AnyStartsWith(const std::string& prefix) {
  const auto messages = Messages();
  return std::any_of(messages.begin(), messages.end(),
                     [&](const std::string& m) { return m.compare(0, prefix.size(), prefix) == 0; });
}

}  // namespace zarnstoragetest
