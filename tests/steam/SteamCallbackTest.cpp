// Callback delivery, authentication tickets and purchase authorisations of the stand-in.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "CleanSteamEnvironment.h"
#include "SteamCallbackRecorder.h"
#include "Harness.h"
#include "steam/steam_api_subset.h"
#include "steam/steam_sim.h"

namespace {

using steamtest::CallbackRecorder;
using steamtest::CleanSteamEnvironment;
using steamtest::RunCallbacksHere;
using zarntest::ScopedEnv;
using zarntest::WaitUntil;

struct Ticket {
  HAuthTicket handle = 0;
  std::vector<uint8_t> bytes;
};

Ticket RequestTicket() {
  Ticket t;
  uint8_t buffer[4096];
  uint32_t size = 0;
  t.handle = SteamAPI_ISteamUser_GetAuthSessionTicket(SteamUser(), buffer, sizeof buffer, &size, nullptr);
  t.bytes.assign(buffer, buffer + size);
  return t;
}

// Pumps on the calling thread until `condition` holds or 5 s pass.
bool PumpUntil(const std::function<bool()>& condition) {
  return WaitUntil(
      [&] {
        RunCallbacksHere();
        return condition();
      },
      std::chrono::seconds(5));
}

TEST(SteamCallbacks, DeliveredOnlyInsideRunCallbacksOnTheCallingThread) {
  CleanSteamEnvironment clean;
  CallbackRecorder recorder;
  SteamSim_SetTicketResponse(k_EResultOK, 0);
  SteamSim_PushMicroTxnAuthorization(480, 1, true);

  // Nothing is delivered while Steam is not started, and queued callbacks wait for it.
  RunCallbacksHere();
  EXPECT_TRUE(recorder.Purchases().empty());
  ASSERT_TRUE(SteamAPI_Init());
  const Ticket ticket = RequestTicket();
  ASSERT_NE(ticket.handle, 0u);
  EXPECT_TRUE(recorder.Tickets().empty());

  std::thread::id pumpId;
  std::thread pump([&] {
    pumpId = std::this_thread::get_id();
    PumpUntil([&] { return recorder.Tickets().size() == 1 && recorder.Purchases().size() == 1; });
  });
  pump.join();

  const auto tickets = recorder.Tickets();
  const auto purchases = recorder.Purchases();
  ASSERT_EQ(tickets.size(), 1u);
  ASSERT_EQ(purchases.size(), 1u);
  EXPECT_EQ(tickets[0].handle, ticket.handle);
  for (const steamtest::Delivery& d : {static_cast<steamtest::Delivery>(tickets[0]),
                                       static_cast<steamtest::Delivery>(purchases[0])}) {
    EXPECT_EQ(d.thread, pumpId);
    EXPECT_TRUE(d.insideRunCallbacks);
  }

  // Each answer is delivered once.
  RunCallbacksHere();
  EXPECT_EQ(recorder.Tickets().size(), 1u);
  EXPECT_EQ(recorder.Purchases().size(), 1u);
}

TEST(SteamCallbacks, TicketBytesAreDeterministicPerHandle) {
  CleanSteamEnvironment clean;
  ASSERT_TRUE(SteamAPI_Init());

  uint8_t small[229];
  uint32_t size = 99;
  EXPECT_EQ(SteamAPI_ISteamUser_GetAuthSessionTicket(SteamUser(), small, sizeof small, &size, nullptr), 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(SteamAPI_ISteamUser_GetAuthSessionTicket(SteamUser(), nullptr, 4096, &size, nullptr), 0u);

#ifndef _WIN32
  // Another process with the same player, game and handle gets the same bytes: a child made
  // now hands out the same next handle as this process.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const Ticket t = RequestTicket();
    ssize_t ignored = write(pipeFds[1], &t.handle, sizeof t.handle);
    ignored = write(pipeFds[1], t.bytes.data(), t.bytes.size());
    (void)ignored;
    _exit(0);
  }
  close(pipeFds[1]);
  HAuthTicket childHandle = 0;
  std::vector<uint8_t> childBytes(4096);
  ASSERT_EQ(read(pipeFds[0], &childHandle, sizeof childHandle), static_cast<ssize_t>(sizeof childHandle));
  size_t got = 0;
  for (ssize_t n; (n = read(pipeFds[0], childBytes.data() + got, childBytes.size() - got)) > 0;) got += n;
  childBytes.resize(got);
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
#endif

  const Ticket first = RequestTicket();
  const Ticket second = RequestTicket();
  EXPECT_EQ(first.bytes.size(), 230u);
  EXPECT_EQ(second.bytes.size(), 230u);
  EXPECT_NE(first.handle, 0u);
  EXPECT_GT(second.handle, first.handle);
  EXPECT_NE(first.bytes, second.bytes);
#ifndef _WIN32
  EXPECT_EQ(childHandle, first.handle);
  EXPECT_EQ(childBytes, first.bytes);
#endif

}

TEST(SteamCallbacks, TicketAnswerWaitsForItsDelay) {
  CleanSteamEnvironment clean;
  CallbackRecorder recorder;
  ASSERT_TRUE(SteamAPI_Init());
  SteamSim_SetTicketResponse(k_EResultOK, 80);

  const auto requested = std::chrono::steady_clock::now();
  const Ticket ticket = RequestTicket();
  RunCallbacksHere();
  if (std::chrono::steady_clock::now() - requested < std::chrono::milliseconds(80)) {
    EXPECT_TRUE(recorder.Tickets().empty());
  }
  ASSERT_TRUE(PumpUntil([&] { return !recorder.Tickets().empty(); }));
  const auto elapsed = std::chrono::steady_clock::now() - requested;

  EXPECT_GE(elapsed, std::chrono::milliseconds(80));
  const auto tickets = recorder.Tickets();
  ASSERT_EQ(tickets.size(), 1u);
  EXPECT_EQ(tickets[0].handle, ticket.handle);
  EXPECT_EQ(tickets[0].result, k_EResultOK);
}

TEST(SteamCallbacks, TicketResultCodesAndNeverAnswering) {
  CleanSteamEnvironment clean;
  ScopedEnv result("ZARN_STEAMSIM_TICKET_RESULT", "2");
  ScopedEnv delay("ZARN_STEAMSIM_TICKET_DELAY_MS", "0");
  CallbackRecorder recorder;
  ASSERT_TRUE(SteamAPI_Init());

  const Ticket fromEnvironment = RequestTicket();
  SteamSim_SetTicketResponse(5, 0);
  const Ticket failed = RequestTicket();
  SteamSim_SetTicketResponse(k_EResultOK, -1);
  const Ticket unanswered = RequestTicket();
  EXPECT_EQ(unanswered.bytes.size(), 230u);  // the ticket itself is still made
  SteamSim_SetTicketResponse(k_EResultOK, 40);
  const Ticket late = RequestTicket();

  // By the time the last (delayed) ticket is answered, the never-answered one, requested
  // earlier, would have been answered too.
  ASSERT_TRUE(PumpUntil([&] { return recorder.Tickets().size() >= 3; }));
  RunCallbacksHere();
  const auto tickets = recorder.Tickets();
  ASSERT_EQ(tickets.size(), 3u);
  EXPECT_EQ(tickets[0].handle, fromEnvironment.handle);
  EXPECT_EQ(tickets[0].result, 2);
  EXPECT_EQ(tickets[1].handle, failed.handle);
  EXPECT_EQ(tickets[1].result, 5);
  EXPECT_EQ(tickets[2].handle, late.handle);
  EXPECT_EQ(tickets[2].result, k_EResultOK);
}

TEST(SteamCallbacks, PurchaseAuthorisationsArriveInOrderWithTheirValues) {
  CleanSteamEnvironment clean;
  CallbackRecorder recorder;
  ASSERT_TRUE(SteamAPI_Init());
  SteamSim_PushMicroTxnAuthorization(480, 18446744073709551615ULL, false);
  SteamSim_PushMicroTxnAuthorization(4294967295u, 4294967296ULL, true);

  RunCallbacksHere();
  const auto purchases = recorder.Purchases();
  ASSERT_EQ(purchases.size(), 2u);
  EXPECT_EQ(purchases[0].appId, 480u);
  EXPECT_EQ(purchases[0].orderId, 18446744073709551615ULL);
  EXPECT_EQ(purchases[0].authorized, 0);
  EXPECT_EQ(purchases[1].appId, 4294967295u);
  EXPECT_EQ(purchases[1].orderId, 4294967296ULL);
  EXPECT_EQ(purchases[1].authorized, 1);
}

// Shuts Steam down from inside its handler.
struct ShutdownInHandler {
  int calls = 0;
  void OnPurchase(MicroTxnAuthorizationResponse_t*) {
    ++calls;
    SteamAPI_Shutdown();
  }
  CCallback<ShutdownInHandler, MicroTxnAuthorizationResponse_t> callback{this, &ShutdownInHandler::OnPurchase};
};

TEST(SteamCallbacks, ShutdownAndResetDropPendingCallbacks) {
  CleanSteamEnvironment clean;
  CallbackRecorder recorder;
  ASSERT_TRUE(SteamAPI_Init());
  SteamSim_SetTicketResponse(k_EResultOK, 0);
  RequestTicket();
  SteamSim_PushMicroTxnAuthorization(480, 1, true);
  SteamAPI_Shutdown();
  ASSERT_TRUE(SteamAPI_Init());
  RunCallbacksHere();
  EXPECT_TRUE(recorder.Tickets().empty());
  EXPECT_TRUE(recorder.Purchases().empty());

  RequestTicket();
  SteamSim_PushMicroTxnAuthorization(480, 2, true);
  SteamSim_Reset();
  RunCallbacksHere();
  EXPECT_TRUE(recorder.Tickets().empty());
  EXPECT_TRUE(recorder.Purchases().empty());

  // A handler that shuts Steam down ends the delivery: the second authorisation is dropped.
  {
    ShutdownInHandler stopper;
    SteamSim_PushMicroTxnAuthorization(480, 3, true);
    SteamSim_PushMicroTxnAuthorization(480, 4, true);
    RunCallbacksHere();
    EXPECT_EQ(stopper.calls, 1);
    EXPECT_EQ(recorder.Purchases().size(), 1u);
  }
  ASSERT_TRUE(SteamAPI_Init());
  RunCallbacksHere();
  EXPECT_EQ(recorder.Purchases().size(), 1u);
}

// Blocks in its handler until released, so that another thread can unregister it meanwhile.
struct BlockingHandler {
  std::atomic<bool> entered{false};
  std::atomic<bool> release{false};
  std::atomic<bool> finished{false};
  void OnPurchase(MicroTxnAuthorizationResponse_t*) {
    entered = true;
    WaitUntil([&] { return release.load(); });
    // Widens the window in which an Unregister that does not wait would return early; the
    // test's outcome does not depend on this pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    finished = true;
  }
  CCallback<BlockingHandler, MicroTxnAuthorizationResponse_t> callback{this, &BlockingHandler::OnPurchase};
};

struct CountingHandler {
  int calls = 0;
  void OnPurchase(MicroTxnAuthorizationResponse_t*) { ++calls; }
  CCallback<CountingHandler, MicroTxnAuthorizationResponse_t> callback{this, &CountingHandler::OnPurchase};
};

// Unregisters another object from inside its handler.
struct UnregisteringHandler {
  CCallbackBase* victim = nullptr;
  void OnPurchase(MicroTxnAuthorizationResponse_t*) { SteamAPI_UnregisterCallback(victim); }
  CCallback<UnregisteringHandler, MicroTxnAuthorizationResponse_t> callback{this,
                                                                            &UnregisteringHandler::OnPurchase};
};

TEST(SteamCallbacks, UnregisteredObjectsAreNotRunAndUnregisterWaitsForARunningHandler) {
  CleanSteamEnvironment clean;
  ASSERT_TRUE(SteamAPI_Init());

  {
    UnregisteringHandler first;
    CountingHandler victim;
    auto later = std::make_unique<CallbackRecorder>();
    first.victim = &victim.callback;
    SteamSim_PushMicroTxnAuthorization(480, 1, true);
    RunCallbacksHere();
    EXPECT_EQ(victim.calls, 0);  // registered after `first`, unregistered by it before its turn
    EXPECT_EQ(later->Purchases().size(), 1u);
    later.reset();  // unregisters on destruction: the next delivery must not reach it
    SteamSim_PushMicroTxnAuthorization(480, 2, true);
    RunCallbacksHere();
    EXPECT_EQ(victim.calls, 0);
  }

  auto blocking = std::make_unique<BlockingHandler>();
  SteamSim_PushMicroTxnAuthorization(480, 3, true);
  std::thread pump([] { RunCallbacksHere(); });
  ASSERT_TRUE(WaitUntil([&] { return blocking->entered.load(); }));
  std::atomic<bool> finishedAtReturn{false};
  std::atomic<bool> unregistering{false};
  std::thread unregister([&] {
    unregistering = true;
    SteamAPI_UnregisterCallback(&blocking->callback);
    finishedAtReturn = blocking->finished.load();
  });
  ASSERT_TRUE(WaitUntil([&] { return unregistering.load(); }));
  blocking->release = true;
  unregister.join();
  pump.join();
  EXPECT_TRUE(finishedAtReturn.load());
}

}  // namespace
