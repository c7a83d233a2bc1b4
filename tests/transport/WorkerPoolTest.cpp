// The worker pool with real requests against scripted loopback servers: the two lanes, the time
// limit of a queued game call, stopping, completions that misbehave, and kept connections.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Harness.h"
#include "ScriptedServer.h"
#include "TestAuthority.h"
#include "transport/TransportSettings.h"
#include "transport/WorkerPool.h"

namespace {

using namespace std::chrono_literals;
using zarntest::ScriptedServer;
using zarntest::WaitUntil;
using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;

// What the completions saw, "<status>|<body>|<error>", in the order they ran.
class Outcomes {
 public:
  std::function<void(sion::AsyncResponse)> Record() {
    return [this](sion::AsyncResponse r) { Add(r.resp.statusCode + "|" + r.resp.StrBody() + "|" + r.err); };
  }
  void Add(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.push_back(std::move(text));
  }
  Texts Get() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }
  bool WaitFor(std::size_t count) { return WaitUntil([&] { return Get().size() >= count; }, 20s); }

 private:
  std::mutex mutex_;
  Texts texts_;
};

// Time limits for one test; the previous ones come back afterwards.
struct ScopedTimeouts {
  explicit ScopedTimeouts(const sion::TransportTimeouts& limits) { sion::SetTransportTimeouts(limits); }
  ~ScopedTimeouts() { sion::SetTransportTimeouts(saved); }
  const sion::TransportTimeouts saved = sion::GetTransportTimeouts();
};

// Repeatable, as a GET is: a request may find its kept connection closed as the server's script
// ended.
std::function<sion::Request()> Get(const std::string& url) {
  return [url] {
    sion::Request request;
    request.SetUrl(url).SetMethod(sion::Method::Get).SetRepeatable(true);
    return request;
  };
}

// Answers each request with its path as the body, once the server is released.
void EchoWhenReleased(ScriptedServer::Connection& c) {
  const std::string request = c.ReadRequest();
  const std::size_t end = request.find(' ', 4);
  if (end == std::string::npos) return;  // the client gave up
  const std::string path = request.substr(4, end - 4);
  c.HoldUntilReleased();
  c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(path.size()) + "\r\n\r\n" + path);
}

TEST(WorkerPool, StalledBackgroundWorkNeverHoldsTheWorkersAGameCallNeeds) {
  // Workers, and how many of them background work may have at once.
  for (const auto& [workers, share] : {std::pair{1, 1}, {3, 1}, {6, 2}, {8, 2}}) {
    SCOPED_TRACE(workers);
    ScriptedServer analytics(EchoWhenReleased);
    ScriptedServer game(EchoWhenReleased);
    Outcomes outcomes;
    Texts expected;
    sion::WorkerPool pool(workers);
    pool.Start();
    const auto submit = [&](ScriptedServer& server, const std::string& path, sion::Lane lane) {
      pool.Submit(Get(server.Url(path)), outcomes.Record(), lane);
      expected.push_back("200|" + path + "|");
    };
    for (int i = 0; i < share + 3; ++i) submit(analytics, "/b" + std::to_string(i), sion::Lane::Background);
    ASSERT_TRUE(analytics.WaitForConnections(share));
    // Every worker beyond the background share serves a game call while the analytics stall.
    for (int i = 0; i < workers - share; ++i) submit(game, "/g" + std::to_string(i), sion::Lane::Game);
    ASSERT_TRUE(game.WaitForConnections(workers - share));

    // Once the background work is done, game calls have every worker again.
    analytics.Release();
    ASSERT_TRUE(outcomes.WaitFor(share + 3));
    for (int i = workers - share; i < workers; ++i) submit(game, "/g" + std::to_string(i), sion::Lane::Game);
    ASSERT_TRUE(game.WaitForConnections(workers));
    game.Release();
    ASSERT_TRUE(outcomes.WaitFor(expected.size()));
    pool.Stop();
    Texts texts = outcomes.Get();  // each completion exactly once
    std::sort(texts.begin(), texts.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(texts, expected);
  }
}

TEST(WorkerPool, AFreeWorkerTakesTheOldestGameCallBeforeAnyBackgroundWork) {
  ScriptedServer server(EchoWhenReleased);
  Outcomes outcomes;
  sion::WorkerPool pool(1);
  pool.Start();
  pool.Submit(Get(server.Url("/g0")), outcomes.Record());
  ASSERT_TRUE(server.WaitForConnections(1));
  pool.Submit(Get(server.Url("/b1")), outcomes.Record(), sion::Lane::Background);
  pool.Submit(Get(server.Url("/g2")), outcomes.Record());
  pool.Submit(Get(server.Url("/b3")), outcomes.Record(), sion::Lane::Background);
  pool.Submit(Get(server.Url("/g4")), outcomes.Record());
  server.Release();
  ASSERT_TRUE(outcomes.WaitFor(5));
  EXPECT_EQ(outcomes.Get(), (Texts{"200|/g0|", "200|/g2|", "200|/g4|", "200|/b1|", "200|/b3|"}));
}

TEST(WorkerPool, AGameCallsTimeLimitCountsFromItsSubmissionABackgroundTasksFromItsStart) {
  const ScopedTimeouts limits({10s, 10s, 1000ms});
  ScriptedServer server(EchoWhenReleased);
  server.Release();
  ScriptedServer stalled(EchoWhenReleased);
  Outcomes outcomes;
  std::atomic<int> stage{0};  // 1: the worker is held, 2: let it go
  Clock::time_point stalledDone;
  sion::WorkerPool pool(1);
  pool.Start();
  pool.Submit(Get(server.Url("/g0")), [&](sion::AsyncResponse) {
    stage = 1;
    WaitUntil([&] { return stage.load() == 2; }, 20s);
  });
  ASSERT_TRUE(WaitUntil([&] { return stage.load() == 1; }));
  // The queue time below is what is under test: the first call waits beyond the limit, the
  // second for half of it, the background task for longer than both.
  pool.Submit(Get(server.Url("/g1")), outcomes.Record());
  std::this_thread::sleep_for(600ms);
  const auto submitted = Clock::now();
  pool.Submit(Get(stalled.Url("/g2")), [&](sion::AsyncResponse r) {
    stalledDone = Clock::now();
    outcomes.Record()(std::move(r));
  });
  pool.Submit(Get(server.Url("/b3")), outcomes.Record(), sion::Lane::Background);
  std::this_thread::sleep_for(500ms);
  stage = 2;
  ASSERT_TRUE(outcomes.WaitFor(3));
  EXPECT_EQ(outcomes.Get(), (Texts{"||网络超时:queue " + server.Url("/g1"), "||网络超时:read 127.0.0.1", "200|/b3|"}));
  EXPECT_GE(stalledDone - submitted, 1000ms - 2ms);
  EXPECT_LT(stalledDone - submitted, 1400ms);
  EXPECT_EQ(server.Requests().size(), 2u);  // the late game call never went out
}

// Every game call cut short, running or queued, hears so once before Stop returns; background
// work is dropped.
TEST(WorkerPool, StopCutsStalledRequestsAnswersTheGameCallsOnceAndDeliversNothingAfterwards) {
  ScriptedServer stalling(EchoWhenReleased);
  Outcomes outcomes;
  auto pool = std::make_unique<sion::WorkerPool>(3);
  pool->Start();
  try {
    pool->Start();
    ADD_FAILURE() << "started twice";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "一个线程池实例只能start一次");
  }
  for (int i = 0; i < 5; ++i) {
    pool->Submit(Get(stalling.Url()), outcomes.Record(), i == 4 ? sion::Lane::Background : sion::Lane::Game);
  }
  ASSERT_TRUE(stalling.WaitForConnections(3));
  const auto start = Clock::now();
  pool->Stop();
  EXPECT_LT(Clock::now() - start, 500ms);  // far below the 30 s read limit
  EXPECT_EQ(outcomes.Get(), Texts(4, "||请求已取消"));
  pool->Stop();
  pool->Submit(Get(stalling.Url()), outcomes.Record());
  pool.reset();
  EXPECT_EQ(outcomes.Get().size(), 4u);
  EXPECT_FALSE(stalling.WaitForConnections(4, 0ms));  // the queued calls never went out
}

TEST(WorkerPool, StopWaitsForARunningCompletionUnlessCalledFromOne) {
  ScriptedServer server(EchoWhenReleased);
  server.Release();
  std::atomic<int> stage{0};
  sion::WorkerPool pool(2);
  pool.Start();
  pool.Submit(Get(server.Url()), [&](sion::AsyncResponse) {
    stage = 1;
    WaitUntil([&] { return stage.load() == 2; }, 20s);
    stage = 3;
  });
  ASSERT_TRUE(WaitUntil([&] { return stage.load() == 1; }));
  auto start = Clock::now();
  EXPECT_FALSE(pool.StopWithin(100ms));
  pool.StopForUnload(true);  // the process is ending: no waiting at all
  pool.StopForUnload(false);
  EXPECT_LT(Clock::now() - start, 3s);
  stage = 2;
  pool.Stop();
  EXPECT_EQ(stage.load(), 3);

  std::atomic<bool> stopped{false};
  sion::WorkerPool inner(2);
  inner.Start();
  inner.Submit(Get(server.Url()), [&](sion::AsyncResponse) {
    inner.Stop();
    stopped = true;
  });
  EXPECT_TRUE(WaitUntil([&] { return stopped.load(); }));
}

TEST(WorkerPool, FailuresAndThrowingCompletionsLeaveTheWorkerRunning) {
  ScriptedServer echo(EchoWhenReleased);
  echo.Release();
  ScriptedServer cut([](ScriptedServer::Connection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort");
  });
  Outcomes outcomes;
  testing::internal::CaptureStderr();
  {
    sion::WorkerPool pool(1);  // one worker, which must survive all of this
    pool.Start();
    pool.Submit(Get(echo.Url("/a")), [](sion::AsyncResponse) { throw std::runtime_error("completion failed"); });
    pool.Submit(Get(echo.Url("/b")), [](sion::AsyncResponse) { throw 42; });
    pool.Submit(Get(echo.Url("/c")), nullptr);
    pool.Submit(Get(cut.Url()), outcomes.Record());
    pool.Submit(Get(echo.Url("/d")), outcomes.Record());
    EXPECT_TRUE(outcomes.WaitFor(2));
    EXPECT_THROW(pool.Submit(nullptr, outcomes.Record()), std::bad_function_call);
  }
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("completion failed\n"), std::string::npos) << errors;
  EXPECT_NE(errors.find("未知异常\n"), std::string::npos) << errors;
  EXPECT_NE(errors.find("bad_function_call\n"), std::string::npos) << errors;
  // A failed request reaches its completion with an untouched reply: never a status that
  // could pass for success.
  EXPECT_EQ(outcomes.Get(), (Texts{"||", "200|/d|"}));
}

// One connection for requests in a row; once idle for the limit it is closed as the pool is next
// used, and at Stop; a new TLS connection resumes the session of the one before.
TEST(WorkerPool, KeepsAConnectionBetweenRequestsUntilItIdlesOutOrThePoolStops) {
  const ScopedTimeouts limits({10s, 10s, 30s, 300ms});
  Outcomes ended;  // per connection the client closed: did its handshake resume a session
  ScriptedServer server(
      [&ended](ScriptedServer::Connection& c) {
        while (!c.ReadRequest().empty()) c.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        ended.Add(SSL_session_reused(c.Tls()) == 1 ? "resumed" : "full");
      },
      zarncert::MakeServerCert(zarntest::TrustedAuthority(), {"localhost"}, {"127.0.0.1"}));
  Outcomes outcomes;
  sion::WorkerPool pool(3);
  pool.Start();
  const auto send = [&](std::size_t count) {
    for (std::size_t i = outcomes.Get().size(); i < count; ++i) {
      pool.Submit(Get(server.Url()), outcomes.Record(), i % 2 == 0 ? sion::Lane::Game : sion::Lane::Background);
      ASSERT_TRUE(outcomes.WaitFor(i + 1));
    }
  };
  send(5);
  EXPECT_FALSE(server.WaitForConnections(2, 0ms));
  const auto idleOut = Clock::now() + 300ms;
  EXPECT_TRUE(WaitUntil([&] { return Clock::now() > idleOut; }));  // the limit, not a wait for the pool
  EXPECT_TRUE(ended.Get().empty());  // nobody woke up for it
  send(6);
  EXPECT_TRUE(WaitUntil([&] { return ended.Get() == Texts{"full"}; }));

  sion::SetTransportTimeouts({10s, 10s, 30s, 30s});
  send(8);
  // Queued while every worker waits for the idle limit, a delayed task still runs at its time.
  const auto due = Clock::now() + 100ms;
  pool.SubmitAt(due, Get(server.Url()), outcomes.Record(), sion::Lane::Background);
  EXPECT_TRUE(outcomes.WaitFor(9) && Clock::now() >= due);
  EXPECT_FALSE(server.WaitForConnections(3, 0ms));
  pool.Stop();
  EXPECT_TRUE(WaitUntil([&] { return ended.Get() == Texts{"full", "resumed"}; }));  // long before the limit
  EXPECT_EQ(outcomes.Get(), Texts(9, "200|ok|"));
}

}  // namespace
