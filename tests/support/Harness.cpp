#include "Harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Os.h"

namespace zarntest {

TempDir::TempDir() : path_(os::MakeTempFolder()) {}

TempDir::~TempDir() { os::RemoveTree(path_.string()); }

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value)
    : name_(std::move(name)), old_(os::GetEnv(name_)) {
  os::SetEnv(name_, value);
}

ScopedEnv::~ScopedEnv() { os::SetEnv(name_, old_); }

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::shared_ptr<void> BlockFile(const std::filesystem::path& path, FileBlock how) {
  if (how != FileBlock::FolderInTheWay) return os::HoldFileOpen(path.string(), how == FileBlock::HeldSharingReads);
  const std::filesystem::path aside = path.string() + ".aside";
  std::filesystem::rename(path, aside);
  std::filesystem::create_directory(path);
  return std::shared_ptr<void>(new char, [path, aside](void* token) {
    delete static_cast<char*>(token);
    std::filesystem::remove(path), std::filesystem::rename(aside, path);
  });
}

std::string Narrow(const std::wstring& w) {
  std::string out;
  for (size_t i = 0; i < w.size(); ++i) {
    auto c = static_cast<uint32_t>(w[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < w.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(w[++i]) - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void CallbackLog::Add(int code, std::string msg, std::string data) {
  // Notified under the lock: a waiter may return and destroy the log while an SDK thread is
  // still inside this call.
  std::lock_guard<std::mutex> lock(mutex_);
  records_.push_back({code, std::move(msg), std::move(data), std::this_thread::get_id()});
  cv_.notify_all();
}

bool CallbackLog::WaitFor(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, timeout, [&] { return records_.size() >= count; });
}

CallbackRecord CallbackLog::Single(std::chrono::milliseconds timeout) {
  EXPECT_TRUE(WaitFor(1, timeout)) << "no callback";
  const auto records = Records();
  EXPECT_EQ(records.size(), 1u) << "a call answered more than once";
  return records.empty() ? CallbackRecord{} : records.front();
}

std::vector<CallbackRecord> CallbackLog::Records() {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

size_t CallbackLog::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_.size();
}

void CallbackLog::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.clear();
}

namespace {
std::mutex slotMutex;
std::vector<CallbackLog*>& SlotLogs() {
  static auto* logs = new std::vector<CallbackLog*>();
  return *logs;
}

class ClearSlotsAtTestStart : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override {
    std::lock_guard<std::mutex> lock(slotMutex);
    for (CallbackLog* log : SlotLogs()) log->Clear();
  }
};
}  // namespace

CallbackLog* RegisterSlotLog(CallbackLog* log) {
  std::lock_guard<std::mutex> lock(slotMutex);
  SlotLogs().push_back(log);
  return log;
}

// ---------------------------------------------------------------------------- child roles

namespace {
constexpr char kChildFlag[] = "--zarn-child=";

std::map<std::string, ChildMain>& Roles() {
  static std::map<std::string, ChildMain> roles;
  return roles;
}
}  // namespace

ChildRole::ChildRole(const char* name, ChildMain main) { Roles()[name] = main; }

int RunChild(const std::string& role, const std::map<std::string, std::string>& env) {
  return os::RunProcess(os::ExecutablePath(), {kChildFlag + role}, env);
}

}  // namespace zarntest

// Every test program's entry: a child role when asked for one, else the tests.
int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]).rfind(zarntest::kChildFlag, 0) == 0) {
    const auto role = zarntest::Roles().find(std::string(argv[1]).substr(sizeof zarntest::kChildFlag - 1));
    return role == zarntest::Roles().end() ? 125 : role->second();
  }
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new zarntest::ClearSlotsAtTestStart);
  return RUN_ALL_TESTS();
}
