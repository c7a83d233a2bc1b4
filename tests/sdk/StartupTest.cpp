#include "SdkRig.h"

namespace zarntest {
namespace {

TEST(Rig, StartsLogsInAndBuys) {
  SdkRig rig;
  rig.StartReady();
  rig.core().CallPay("gem_pack_small", "x", CallbackSlot<1>::fn);
  const std::string order = SdkRig::WaitForSavedOrder(1);
  SdkRig::ReportSteamDecision(order, true);
  EXPECT_EQ(CallbackSlot<1>::log().Single().code, 200);
}

TEST(Rig, SecondRigIsFresh) {
  SdkRig rig;
  rig.StartReady();
  EXPECT_EQ(CallbackSlot<1>::log().Count(), 0u);
}

}  // namespace
}  // namespace zarntest
