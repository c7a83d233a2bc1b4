#include "SampleFlow.h"

#include <chrono>
#include <cstdio>
#include <utility>

#include <nlohmann/json.hpp>

#include "JsonText.h"
#include "ProductCatalogue.h"
#include "WideText.h"
#include "ZarnProxy.h"

namespace sample {
namespace {

// The sample player's identity, as a game would set it once the character is chosen.
constexpr const char* kServerId = "sample-server-1";
constexpr const char* kGameUserId = "sample-hero-0001";
constexpr const char* kNickName = "Sample Hero";
constexpr int kLevel = 7;

std::wstring Wide(const std::string& utf8) { return FromUtf8(utf8); }

std::wstring JsonParam(const nlohmann::json& object) { return FromUtf8(object.dump()); }

long long UnixMillisNow() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string Quoted(const std::wstring& text) { return "\"" + ToUtf8(text) + "\""; }

// A member of the payment data as JSON text, or "(missing)".
std::string MemberText(const nlohmann::json& doc, const char* name) {
  const auto it = doc.find(name);
  return it == doc.end() ? "(missing)" : it->dump();
}

}  // namespace

SampleFlow::SampleFlow(SampleOptions options, std::ostream& out)
    : options_(std::move(options)), out_(out), report_(out, kStepCount), mainThread_(std::this_thread::get_id()) {}

std::string SampleFlow::TimeoutText() const {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(options_.stepTimeout.count()) / 1000.0);
  return text;
}

std::optional<CallbackAnswer> SampleFlow::Await(Slot slot, const std::string& what) {
  auto answer = CallbackMailbox::Instance().WaitFor(slot, std::chrono::steady_clock::now() + options_.stepTimeout);
  if (!answer) {
    report_.Fail("no " + what + " within " + TimeoutText());
    return std::nullopt;
  }
  report_.ShowAnswer(*answer, mainThread_);
  return answer;
}

bool SampleFlow::Run() {
  out_ << "zarn-sample-game: app id \"" << options_.appId << "\", "
       << (options_.expectDecline ? "expecting the purchase to be declined" : "expecting the purchase to go through")
       << ", " << TimeoutText() << " per step\n";

  CheckPayUnavailableBeforeInit();
  const bool initOk = InitSdk();
  bool loginOk = false;
  bool productChosen = false;
  if (initOk) {
    SetPlayerIdentity();
    PostCustomEvent();
    PostUserCreateEvent();
    PostLevelAchievedEvent();
    loginOk = LoginPlayer();
    productChosen = QueryCatalogue();
    CheckPayAvailable();
    if (loginOk && productChosen) {
      BuyProduct();
    } else {
      report_.Skip("CallPay", loginOk ? "no product to buy" : "Login did not succeed");
    }
    if (loginOk) {
      LogoutPlayer();
    } else {
      report_.Skip("Logout", "Login did not succeed");
    }
  } else {
    const char* reason = "Init did not succeed";
    for (const char* title : {"SetServerId, SetGameUserId, SetNickName, SetLevel", "PostEvent (custom event)",
                              "PostEvent qzk_user_create", "PostEvent qzk_level_achieved", "Login", "QueryProducts",
                              "IsPayAvailable after Init", "CallPay", "Logout"}) {
      report_.Skip(title, reason);
    }
  }
  ExitSdk();
  report_.PrintSummary();
  return report_.AllPassed();
}

void SampleFlow::CheckPayUnavailableBeforeInit() {
  report_.Begin("IsPayAvailable before Init");
  const bool available = ZarnProxy::IsPayAvailable();
  report_.Note(std::string("answer: ") + (available ? "true" : "false"));
  if (available) {
    report_.Fail("expected false: payment cannot be available before the SDK is started");
  } else {
    report_.Pass();
  }
}

bool SampleFlow::InitSdk() {
  report_.Begin("Init(appId \"" + options_.appId + "\")");
  ZarnProxy::Init(Wide(options_.appId), Wide(options_.appKey), CallbackMailbox::CallbackFor(Slot::Init));
  const auto answer = Await(Slot::Init, "Init callback");
  if (!answer) return false;
  if (answer->code != 200) {
    report_.Fail("expected code 200, got " + std::to_string(answer->code) + " " + Quoted(answer->msg));
    return false;
  }
  report_.Pass();
  return true;
}

void SampleFlow::SetPlayerIdentity() {
  report_.Begin("SetServerId, SetGameUserId, SetNickName, SetLevel");
  ZarnProxy::SetServerId(Wide(kServerId));
  ZarnProxy::SetGameUserId(Wide(kGameUserId));
  ZarnProxy::SetNickName(Wide(kNickName));
  ZarnProxy::SetLevel(kLevel);
  report_.Note(std::string("server \"") + kServerId + "\", game user \"" + kGameUserId + "\", nickname \"" +
               kNickName + "\", level " + std::to_string(kLevel));
  report_.Pass();
}

void SampleFlow::PostCustomEvent() {
  const nlohmann::json params = {{"stage", "intro"}, {"tries", 1}};
  report_.Begin("PostEvent tutorial_finished (custom event)");
  ZarnProxy::PostEvent(L"tutorial_finished", JsonParam(params), 1.0);
  report_.Note("params " + params.dump() + ", value 1; sent as \"qzk_self_tutorial_finished\", no reply expected");
  report_.Pass();
}

void SampleFlow::PostUserCreateEvent() {
  const nlohmann::json params = {{"nickname", kNickName}, {"registerTime", UnixMillisNow()}};
  report_.Begin("PostEvent qzk_user_create");
  ZarnProxy::PostEvent(L"qzk_user_create", JsonParam(params), 0.0);
  report_.Note("params " + params.dump() + ", no reply expected");
  report_.Pass();
}

void SampleFlow::PostLevelAchievedEvent() {
  const nlohmann::json params = {{"level", kLevel}};
  report_.Begin("PostEvent qzk_level_achieved");
  ZarnProxy::PostEvent(L"qzk_level_achieved", JsonParam(params), static_cast<double>(kLevel));
  report_.Note("params " + params.dump() + ", value " + std::to_string(kLevel) + ", no reply expected");
  report_.Pass();
}

bool SampleFlow::LoginPlayer() {
  report_.Begin("Login");
  ZarnProxy::Login(CallbackMailbox::CallbackFor(Slot::Login));
  const auto answer = Await(Slot::Login, "Login callback (Steam ticket, then server login)");
  if (!answer) return false;
  if (answer->code != 200) {
    report_.Fail("expected code 200, got " + std::to_string(answer->code) + " " + Quoted(answer->msg));
    return false;
  }
  report_.Pass();
  return true;
}

bool SampleFlow::QueryCatalogue() {
  report_.Begin("QueryProducts");
  ZarnProxy::QueryProducts(CallbackMailbox::CallbackFor(Slot::Products));
  const auto answer = Await(Slot::Products, "QueryProducts callback");
  if (!answer) return false;
  if (answer->code != 200) {
    report_.Fail("expected code 200, got " + std::to_string(answer->code) + " " + Quoted(answer->msg));
    return false;
  }
  const auto catalogue = ProductCatalogue::FromCallbackData(answer->data);
  if (!catalogue) {
    report_.Fail("the data is not a product list");
    return false;
  }
  report_.Note("catalogue, " + std::to_string(catalogue->Rows().size()) + " product(s):");
  catalogue->PrintTable(out_, "          ");
  if (catalogue->Rows().empty()) {
    report_.Fail("the catalogue is empty: nothing to buy");
    return false;
  }
  productId_ = options_.productId.value_or(catalogue->Rows().front().productId);
  if (catalogue->Contains(productId_)) {
    report_.Note("will buy \"" + productId_ + "\"");
  } else {
    report_.Note("\"" + productId_ + "\" is not in the catalogue; buying it anyway to show the SDK's answer");
  }
  report_.Pass();
  return true;
}

void SampleFlow::CheckPayAvailable() {
  report_.Begin("IsPayAvailable after Init");
  const bool available = ZarnProxy::IsPayAvailable();
  report_.Note(std::string("answer: ") + (available ? "true" : "false"));
  if (available) {
    report_.Pass();
  } else {
    report_.Fail("expected true: the Steam overlay, which the purchase dialog needs, is reported off");
  }
}

void SampleFlow::BuyProduct() {
  const std::string extInfo = "zarn-sample-game/" + std::to_string(UnixMillisNow());
  const int expectedStatus = options_.expectDecline ? 0 : 1;
  report_.Begin("CallPay(\"" + productId_ + "\") until the payment result");
  report_.Note("extInfo \"" + extInfo + "\"; expecting status " + std::to_string(expectedStatus) + " (" +
               (options_.expectDecline ? "declined" : "paid") + ")");
  ZarnProxy::CallPay(Wide(productId_), Wide(extInfo), CallbackMailbox::CallbackFor(Slot::Payment));
  const auto answer = Await(Slot::Payment, "payment callback (order, Steam authorisation, payment result)");
  if (!answer) return;
  if (answer->code != 200) {
    report_.Fail("expected code 200, got " + std::to_string(answer->code) + " " + Quoted(answer->msg));
    return;
  }
  const auto data = ParseJsonText(answer->data);
  if (!data || !data->is_object()) {
    report_.Fail("the payment data is not a JSON object");
    return;
  }
  const auto status = data->find("status");
  if (status == data->end() || !status->is_number_integer() || status->get<long long>() != expectedStatus) {
    report_.Fail("expected \"status\" " + std::to_string(expectedStatus) + ", got " + MemberText(*data, "status"));
    return;
  }
  if (data->value("productId", std::string()) != productId_ || data->value("extInfo", std::string()) != extInfo) {
    report_.Fail("the payment data names another purchase: productId " + MemberText(*data, "productId") +
                 ", extInfo " + MemberText(*data, "extInfo"));
    return;
  }
  report_.Pass();
}

void SampleFlow::LogoutPlayer() {
  report_.Begin("Logout, then CallPay must be refused");
  ZarnProxy::Logout();
  ZarnProxy::CallPay(Wide(productId_.empty() ? "any" : productId_), L"", CallbackMailbox::CallbackFor(Slot::Refusal));
  const auto answer = Await(Slot::Refusal, "refusal of CallPay after Logout");
  if (!answer) return;
  if (answer->code != -405 || answer->msg != L"Not Login.") {
    report_.Fail("expected -405 \"Not Login.\", got " + std::to_string(answer->code) + " " + Quoted(answer->msg));
    return;
  }
  report_.Pass();
}

void SampleFlow::ExitSdk() {
  report_.Begin("Exit");
  // Exit waits for the SDK's workers; run it aside so that a stuck shutdown is reported rather
  // than hanging the sample.
  std::thread exiting([] {
    ZarnProxy::Exit();
    CallbackMailbox::Instance().Post(Slot::ExitDone, CallbackAnswer{});
  });
  if (CallbackMailbox::Instance().WaitFor(Slot::ExitDone, std::chrono::steady_clock::now() + options_.stepTimeout)) {
    exiting.join();
    // Each call above answers once; anything left over is a second answer to the same call.
    std::string extra;
    for (const auto& [slot, name] : {std::pair{Slot::Init, "Init"}, std::pair{Slot::Login, "Login"},
                                     std::pair{Slot::Products, "QueryProducts"}, std::pair{Slot::Payment, "CallPay"},
                                     std::pair{Slot::Refusal, "CallPay after Logout"}}) {
      if (const size_t count = CallbackMailbox::Instance().Pending(slot)) {
        extra += std::string(extra.empty() ? "" : ", ") + name + " x" + std::to_string(count);
      }
    }
    if (extra.empty()) {
      report_.Pass();
    } else {
      report_.Fail("callbacks beyond the one answer each call gives: " + extra);
    }
  } else {
    exiting.detach();
    exitStillRunning_ = true;
    report_.Fail("Exit did not return within " + TimeoutText());
  }
}

}  // namespace sample
