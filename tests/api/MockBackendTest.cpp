// End to end against the mock of the publisher's server: every request the catalogue builds,
// posted through the real gateway and transport over TLS, must pass the mock's own,
// independently written verifier (parameter order, signature, fixed values, JSON texts).
#include <gtest/gtest.h>

#include "ApiTestSupport.h"
#include "Sdk/CZarnCore.h"
#include "Sdk/CZarnUser.h"
#include "Sdk/SteamSession.h"
#include "Sdk/ZarnApi.h"
#include "TestSupport.h"
#include "tools/mock_backend/ApiPaths.h"
#include "tools/mock_backend/MockBackend.h"
#include "transport/WorkerPool.h"

using ZarnSdk::CZarnCore;
using ZarnSdk::ZarnApi;
using zarntest::Narrow;
using zarntest::ReplyCatcher;

TEST(MockBackend, EveryCatalogueRequestPassesTheServersVerifier) {
  zarntest::TempDir data;
  zarntest::ScopedEnv dataHome("XDG_DATA_HOME", data.str());
  zarnmock::MockBackend backend;
  backend.SetAppKey("1001", "k3y-of-1001");
  backend.Start();
  zarntest::ScopedEnv trust("SSL_CERT_FILE", backend.CaCertFile());
  zarntest::ScopedEnv origin("ZARN_SDK_API_ORIGIN", backend.Origin());

  ZarnSdk::RecordSteamAppId(480);
  CZarnCore::Instance().InitGlobalParams("1001", "k3y-of-1001");
  sion::WorkerPool::Instance().Start();

  ReplyCatcher catcher;
  ZarnApi::PostClientConfig(catcher.Callback());
  ZarnApi::PostAttribution(catcher.Callback());
  ZarnApi::PostProducts(catcher.Callback());
  ASSERT_TRUE(catcher.WaitFor(3));

  // The login stores the server's user id, which the order and payment requests then carry.
  auto& loginLog = zarntest::CallbackSlot<0>::log();
  ZarnSdk::CZarnUser::Login("76561197960287930", "1400000001020304", zarntest::CallbackSlot<0>::fn);
  ASSERT_TRUE(loginLog.WaitFor(1));
  EXPECT_EQ(loginLog.Records()[0].code, 200) << Narrow(loginLog.Records()[0].msg);
  EXPECT_EQ(CZarnCore::Instance().GetUserId(), "100001");

  ZarnSdk::CreateOrderParams order;
  order.productId = "gem_pack_small";
  order.serverId = "s 1";
  order.gameUserId = "role=7";
  order.nickName = "a&userId=1 b+c%";
  order.orderAmountMicros = "0";
  order.collectionInfo = R"({"deviceId":"c0ffee","resolution":"1920x1080"})";
  order.currencyCode = "";
  order.extInfo = "ext&info";
  ZarnApi::PostCreateOrder(order, catcher.Callback());

  ZarnSdk::PayResultParams pay;
  pay.orderId = "ZM-1";
  pay.extVerifyInfo = R"({"steamOrderId":"4294967297"})";
  pay.payAmountMicros = "990000";
  pay.serverId = "s 1";
  pay.gameUserId = "role=7";
  pay.status = "1";
  pay.channelProductId = "steam.gem.small";
  ZarnApi::PostPayResult(pay, catcher.Callback());
  ASSERT_TRUE(catcher.WaitFor(5));

  for (const auto& caught : catcher.Replies()) {
    EXPECT_EQ(caught.resp.code, 200) << Narrow(caught.resp.msg) << " " << Narrow(caught.resp.data);
  }
  const std::vector<std::string> paths = {zarnmock::paths::kClientConfig, zarnmock::paths::kAttribution,
                                          zarnmock::paths::kProducts,     zarnmock::paths::kLogin,
                                          zarnmock::paths::kCreateOrder,  zarnmock::paths::kPayResult};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(backend.WaitForAnswers(path, 1));
    const auto requests = backend.Requests(path);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].ok) << requests[0].reason << "\n" << requests[0].body;
  }

  // What the server decoded is what the game gave, and the user id is the stored one.
  const auto created = backend.Requests(zarnmock::paths::kCreateOrder)[0];
  EXPECT_EQ(created.Param("nickName"), "a&userId=1 b+c%");
  EXPECT_EQ(created.Param("extInfo"), "ext&info");
  EXPECT_EQ(created.Param("userId"), "100001");
  EXPECT_EQ(backend.Requests(zarnmock::paths::kPayResult)[0].Param("userId"), "100001");

  sion::WorkerPool::Instance().Stop();
}
