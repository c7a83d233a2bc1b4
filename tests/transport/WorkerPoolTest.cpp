// The worker pool with real requests against a scripted loopback server.
#include <gtest/gtest.h>

#include <stdexcept>

#include "EventLog.h"
#include "ScriptedServer.h"
#include "transport/WorkerPool.h"

namespace {

using namespace std::chrono_literals;
using zarntest::EventLog;
using zarntest::ScriptedServer;
using zarntest::ServerConnection;

std::function<sion::Request()> GetOf(const std::string& url) {
  return [url] {
    sion::Request request;
    request.SetUrl(url).SetMethod(sion::Method::Get);
    return request;
  };
}

std::string PathOf(const std::string& request) {
  const auto start = request.find(' ') + 1;
  return request.substr(start, request.find(' ', start) - start);
}

// Answers every request with its own path as body.
void Echo(ServerConnection& connection) {
  const std::string path = PathOf(connection.ReadRequest());
  connection.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(path.size()) + "\r\n\r\n" + path);
}

TEST(WorkerPool, SixRequestsRunAtOnceAndTheSeventhWaitsForAFreeWorker) {
  EventLog log;
  // Each request is held at the server until the test lets its path go.
  ScriptedServer server([&](ServerConnection& connection) {
    const std::string path = PathOf(connection.ReadRequest());
    log.Add("arrive " + path);
    log.WaitFor("let " + path, 20s);
    connection.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(path.size()) + "\r\n\r\n" + path);
  });
  sion::WorkerPool pool;
  pool.Start();
  for (int i = 0; i < 7; ++i) {
    pool.Submit(GetOf(server.Url("/" + std::to_string(i))), [&log](sion::AsyncResponse outcome) {
      log.Add("done " + outcome.resp.StrBody() + (outcome.err.empty() ? "" : " err:" + outcome.err));
    });
  }
  ASSERT_TRUE(log.WaitForCount("arrive ", 6));
  EXPECT_EQ(server.Connections(), 6u);
  EXPECT_EQ(log.IndexOf("arrive /6"), -1);  // queued tasks run in arrival order

  log.Add("let /0");
  ASSERT_TRUE(log.WaitFor("arrive /6"));
  EXPECT_LT(log.IndexOf("done /0"), log.IndexOf("arrive /6"));
  for (int i = 1; i < 7; ++i) log.Add("let /" + std::to_string(i));
  ASSERT_TRUE(log.WaitForCount("done ", 7));
  for (int i = 0; i < 7; ++i) EXPECT_GE(log.IndexOf("done /" + std::to_string(i)), 0) << i;
  pool.Stop();
}

TEST(WorkerPool, FailuresAndThrowingCompletionsLeaveTheWorkersRunning) {
  ScriptedServer server(Echo);
  EventLog log;
  sion::WorkerPool pool(1);  // one worker: it must survive everything below
  pool.Start();
  try {
    pool.Start();
    ADD_FAILURE() << "second Start accepted";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "一个线程池实例只能start一次");
  }

  testing::internal::CaptureStderr();
  pool.Submit(GetOf(server.Url("/a")), [](sion::AsyncResponse) { throw std::runtime_error("completion failed"); });
  pool.Submit(GetOf(server.Url("/b")), [](sion::AsyncResponse) { throw 42; });
  pool.Submit(GetOf(server.Url("/c")), nullptr);
  pool.Submit(GetOf("http://127.0.0.1:1/"), [&log](sion::AsyncResponse outcome) {
    log.Add("refused status=" + outcome.resp.statusCode + " body=" + outcome.resp.StrBody() + " err=" + outcome.err);
  });
  pool.Submit(GetOf(server.Url("/d")), [&log](sion::AsyncResponse outcome) { log.Add("done " + outcome.resp.StrBody()); });
  ASSERT_TRUE(log.WaitFor("done /d"));
  pool.Stop();
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("completion failed\n"), std::string::npos) << errors;
  EXPECT_NE(errors.find("未知异常\n"), std::string::npos) << errors;
  EXPECT_NE(errors.find("bad_function_call\n"), std::string::npos) << errors;

  const auto events = log.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], "refused status= body= err=连接失败:\nHost:127.0.0.1\nIp:127.0.0.1\n错误码：111");
  EXPECT_THROW(pool.Submit(nullptr, [](sion::AsyncResponse) {}), std::bad_function_call);
}

TEST(WorkerPool, StopCutsStalledRequestsAndDeliversNothingMore) {
  ScriptedServer stalling([](ServerConnection& connection) {
    connection.ReadRequest();
    connection.HoldUntilReleased();
  });
  EventLog log;
  auto pool = std::make_unique<sion::WorkerPool>();
  pool->Start();
  for (int i = 0; i < 3; ++i) {
    pool->Submit(GetOf(stalling.Url()), [&log](sion::AsyncResponse) { log.Add("delivered"); });
  }
  ASSERT_TRUE(stalling.WaitForConnections(3));

  // The default read limit is 30 s; Stop must not wait for it.
  const auto start = std::chrono::steady_clock::now();
  pool->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  pool->Stop();  // a second Stop finds nothing to wait for
  pool->Submit(GetOf(stalling.Url()), [&log](sion::AsyncResponse) { log.Add("delivered"); });
  pool.reset();
  stalling.Release();
  EXPECT_EQ(log.Count("delivered"), 0u);
  EXPECT_EQ(stalling.Connections(), 3u);
}

TEST(WorkerPool, StopFromACompletionFunctionDoesNotWaitForItself) {
  ScriptedServer server(Echo);
  EventLog log;
  sion::WorkerPool pool(2);
  pool.Start();
  pool.Submit(GetOf(server.Url("/x")), [&](sion::AsyncResponse) {
    pool.Stop();
    log.Add("stopped");
  });
  EXPECT_TRUE(log.WaitFor("stopped"));
}

TEST(WorkerPool, StartsOnceAndStopsAtUnloadWithinABound) {
  sion::WorkerPool pool;
  ScriptedServer server(Echo);
  EventLog log;
  pool.Start();
  EXPECT_THROW(pool.Start(), std::logic_error);
  pool.Submit(GetOf(server.Url("/p")), [&log](sion::AsyncResponse outcome) { log.Add(outcome.resp.StrBody()); });
  EXPECT_TRUE(log.WaitFor("/p"));

  const auto start = std::chrono::steady_clock::now();
  pool.StopForUnload(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  pool.StopForUnload(true);
  pool.Stop();
}

}  // namespace
