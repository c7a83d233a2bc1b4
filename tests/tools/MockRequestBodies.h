// Request bodies as the SDK sends them, written out by hand for fixed inputs, with their "osign"
// computed outside the code under test. The signed texts are given beside each signature.
#pragma once

#include <httplib.h>

#include <string>

namespace mocktest {

inline const std::string kCommon =
    "appId=10086&os=Windows&sdkVer=SteamEXE_2.0.0&sdkType=html5&clientId=c0ffee-client&runPlatform=html5"
    "&gamePlatform=steam";

// MD5("10086" "zarn-demo-key" "c0ffee-client" "Windows" "SteamEXE_2.0.0" "html5" "html5")
inline const std::string kClientConfigSign = "a64170810d2327847e6e16c83f1b3c54";
inline const std::string kClientConfigBody = kCommon + "&osign=" + kClientConfigSign;

// MD5("10086" "zarn-demo-key" "SteamEXE_2.0.0" "html5" "Windows" "_unknown" "c0ffee-client" "html5"
//     "steam" "_unknown" "_unknown" "_unknown" "-1" "_unknown" "_unknown" "_unknown")
inline const std::string kAttributionBody =
    kCommon +
    "&osVer=_unknown&urlParams=&channelId=_unknown&subChannelId=_unknown&lp=_unknown&userId=-1"
    "&browser=_unknown&browserVersion=_unknown&language=_unknown&osign=960370ba6a6ca10b77301a8c110a91d0";

// MD5("10086" "zarn-demo-key" "1" "SteamEXE_2.0.0" "html5" "c0ffee-client" "html5" "steam" "STEAM"
//     "14000000abcdef")
inline const std::string kLoginBody =
    kCommon +
    "&platform=STEAM&bindType=1&puserId=76561198000000001&accessToken=14000000abcdef&extra={\"merId\":\"480\"}"
    "&osign=a86f8c9dd0d665fce1aa5a50379f50d6";

// MD5("SteamEXE_2.0.0" "html5" "c0ffee-client" "10086" "Windows" "html5" "steam" "{"merId":"480"}" "1"
//     "999" "zarn-demo-key")
inline const std::string kProductsBody =
    kCommon + "&page=1&pageSize=999&extra={\"merId\":\"480\"}&osign=83ce2e4aaebffe51b0c838ddb4fa122f";

// extInfo is the raw text: game&extra=1 +x%   (escaped as the SDK escapes it)
// MD5("10086" "zarn-demo-key" "STEAM" "c0ffee-client" "" "game&extra=1 +x%" "0" "gem_pack_small"
//     "SteamEXE_2.0.0" "html5" "Windows" "html5" "steam" "s1" "role-9" "Ünï 名字" "100001"
//     "{"deviceId":"c0ffee-client","resolution":"1920*1080"}" "{"merId":"480"}")
inline const std::string kOrderParams =
    "&appKey=zarn-demo-key&channel=STEAM&productId=gem_pack_small&orderAmountMicros=0&currencyCode="
    "&extInfo=game%26extra%3D1 %2Bx%25&collectionInfo={\"deviceId\":\"c0ffee-client\",\"resolution\":\"1920*1080\"}"
    "&userId=100001&serverId=s1&gameUserId=role-9&nickName=Ünï 名字&sdkExtInfo={\"merId\":\"480\"}";
inline const std::string kOrderBody = kCommon + kOrderParams + "&osign=71241b103653bb26d0e468de5410773a";

// MD5("10086" "zarn-demo-key" "STEAM" "" "c0ffee-client" "ZM-1" "{"steamOrderId":"4294968296"}"
//     "990000" "SteamEXE_2.0.0" "html5" "Windows" "html5" "steam" "s1" "role-9" "1" "" "" "100001"
//     "steam.gem.small")
inline const std::string kPayResultBody =
    kCommon +
    "&channel=STEAM&userId=100001&serverId=s1&gameUserId=role-9&orderId=ZM-1"
    "&extVerifyInfo={\"steamOrderId\":\"4294968296\"}&status=1&payAmountMicros=990000&channelPayType="
    "&channelProductId=steam.gem.small&trxId=&trxToken=&osign=ce6cf9281afbe9c48fcdcf1d552e651e";

inline const std::string kAnalyticsBody =
    R"({"appId":"10086","context":{"os":"Windows 10","resolution":"1920*1080","tz":"UTC+08:00"},)"
    R"("deviceId":"c0ffee-client","event":"qzk_startup","eventOrder":"n1","fingerId":"c0ffee-client",)"
    R"("gamePlatform":"steam","gameUserId":"_unknown","platform":"html5","sdkTime":1700000000000,)"
    R"("sdkType":"html5","sdkVersion":"SteamEXE_2.0.0","serverId":"_unknown","userId":-1})";

inline constexpr char kForm[] = "application/x-www-form-urlencoded";
inline constexpr char kAnalyticsType[] = "text/plain;charset=UTF-8";

// Works for httplib::Client and httplib::SSLClient alike.
template <class HttpClient>
httplib::Result PostForm(HttpClient& client, const std::string& path, const std::string& body) {
  return client.Post(path, body, kForm);
}

}  // namespace mocktest
