// The gateway's reading of replies, a real refused connection, the texts between the game's
// wide strings and the SDK's UTF-8, where the server is, and the README's result table.
#include <algorithm>
#include <fstream>

#include "SdkRig.h"
#include "Sdk/ResultCodes.h"
#include "Sdk/ZarnConfigUtils.h"
#include "platform/Platform.h"
#include "proxy/StringConvert.h"

namespace zarntest {
namespace {

namespace paths = zarnmock::paths;

// GBK bytes of the gateway's log labels.
const std::string kRequestUrl = "\xc7\xeb\xc7\xf3\xb5\xd8\xd6\xb7\xa3\xba";   // 请求地址：
const std::string kRequestData = "\xc7\xeb\xc7\xf3\xca\xfd\xbe\xdd\xa3\xba";  // 请求数据：
const std::string kReplyUrl = "\xc7\xeb\xc7\xf3\xb5\xd8\xd6\xb7:";            // 请求地址:
const std::string kReplyStatus = "     \xcf\xec\xd3\xa6:";                    //      响应:
const std::string kReplyBody = "\xc7\xeb\xc7\xf3\xbd\xe1\xb9\xfb:";           // 请求结果:

ZarnSdk::HttpResp Decode(const std::string& status, const std::string& body, const std::string& err = "") {
  sion::AsyncResponse response;
  response.resp.statusCode = status;
  response.resp.body.assign(body.begin(), body.end());
  response.err = err;
  return ZarnSdk::DecodeReply(response);
}

TEST(Gateway, DecodesTheReplyEnvelope) {
  // msg: exact, or for -501 a piece of the JSON library's text.
  struct Case { std::string status, body, err; int code; std::string msg; bool bodyIsData; };
  const std::string ok = R"({"code":200,"msg":"ok","data":{"orderId":"x1"}})";
  const std::string deep = std::string(64, '[') + std::string(64, ']');
  const std::vector<Case> cases = {
      {"200", ok, "", 200, "ok", true},
      {"200", R"({"code":200,"msg":"m","message":"other"})", "", 200, "m", true},
      {"200", R"({"code":1001,"message":"refused"})", "", 1001, "refused", true},
      {"200", R"({"code":200.9,"msg":"f"})", "", 200, "f", true},
      {"200", R"({"code":-7.9})", "", -7, "", true},
      {"200", R"({"code":true})", "", 1, "", true},
      {"200", "{\"code\":200,\"msg\":\"\xe6\x88\x90\xf0\x9f\x98\x80\"}", "", 200, "\xe6\x88\x90\xf0\x9f\x98\x80", true},
      // The status text is read as C's atoi reads it.
      {"200abc", R"({"code":7})", "", 7, "", true},
      {"200", R"({"code":"200","msg":"ok"})", "", -501, "type must be number, but is string", false},
      {"200", R"({"code":null})", "", -501, "type must be number, but is null", false},
      {"200", R"({"msg":"ok"})", "", -501, "key 'code' not found", false},
      {"200", R"({"code":200,"msg":5})", "", -501, "type must be string, but is number", false},
      {"200", R"([{"code":200}])", "", -501, "cannot use at() with array", false},
      {"200", "", "", -501, "parse error", false},
      {"200", "<html><body>502 Bad Gateway</body></html>", "", -501, "parse error", false},
      {"200", R"({"code":200} x)", "", -501, "parse error", false},
      // A zero byte ends the JSON library's input, which must not hide the bytes after it.
      {"200", R"({"code":200,"msg":"ok"})" + std::string(1, '\0') + "garbage", "", -501, "", false},
      {"200", R"({"code":200,"a":)" + deep + "}", "", -501, "nested deeper", false},
      // A code that does not fit 32 bits is refused, never wrapped into another (200 even).
      {"200", R"({"code":4294967496})", "", -501, "4294967496", false},
      {"200", R"({"code":1e300})", "", -501, "1e+300", false},
      {"201", ok, "", -502, "Http Code:201, Msg:", false},
      {"302", ok, "", -502, "Http Code:302, Msg:", false},
      {"2000000000000000000200", ok, "", -502, "Http Code:2000000000000000000200, Msg:", false},
      {"", "", "boom", -502, "Http Code:, Msg:boom", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status + " " + c.body);
    const ZarnSdk::HttpResp r = Decode(c.status, c.body, c.err);
    EXPECT_EQ(r.code, c.code);
    if (c.code == -501) {
      EXPECT_NE(r.msg.find(c.msg), std::string::npos) << r.msg;
    } else {
      EXPECT_EQ(r.msg, c.msg);
    }
    EXPECT_EQ(r.data, c.bodyIsData ? c.body : "");
  }
}

TEST(Gateway, RefusedConnectionIsAnHttpFailureWithTheTransportText) {
  SdkRig rig;
  ASSERT_NO_FATAL_FAILURE(rig.Start());
  // Both log lines of an exchange that succeeded (the catalogue preload).
  const std::string productsUrl = rig.mock().Url(paths::kProducts);
  const std::string replyLine = "\n" + kReplyUrl + productsUrl + kReplyStatus + "200\n" + kReplyBody;
  ASSERT_TRUE(LogTap::WaitFor(replyLine));
  ASSERT_TRUE(rig.mock().WaitForAnswers(paths::kProducts, 1));
  const auto products = rig.mock().Requests(paths::kProducts).at(0);
  EXPECT_EQ(LogTap::StartingWith(replyLine).at(0), replyLine + products.replyBody + "\n");
  EXPECT_EQ(LogTap::StartingWith("\n" + kRequestUrl + productsUrl).at(0),
            "\n" + kRequestUrl + productsUrl + "\n" + kRequestData + products.body + "\n");
  rig.mock().Stop();  // its port now refuses connections
  rig.core().LoginSteam(CallbackSlot<1>::utf8);
  const CallbackRecord r = CallbackSlot<1>::log().Single();
  EXPECT_EQ(r.code, -502);
  const std::string connectFailed = "\xe8\xbf\x9e\xe6\x8e\xa5\xe5\xa4\xb1\xe8\xb4\xa5:";  // UTF-8 of 连接失败:
  EXPECT_EQ(r.msg.rfind("Http Code:, Msg:" + connectFailed, 0), 0u) << r.msg;
  EXPECT_EQ(r.data, "");
  EXPECT_EQ(LogTap::StartingWith("\n" + kReplyUrl + rig.mock().Url(paths::kLogin) + kReplyStatus + "0\n\n").size(), 1u);
}

TEST(Gateway, WideTextsConvertWholeAndInvalidInputBecomesReplacement) {
  // Every plane, and U+0000 inside a text, both ways.
  const std::wstring wide(L"a\u00e9\u4e2d\U0001F600\0z", 6 + (sizeof(wchar_t) == 2 ? 1 : 0));
  const std::string utf8("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\0z", 12);
  EXPECT_EQ(ZarnSdk::WideToUtf8(wide), utf8);
  EXPECT_EQ(ZarnSdk::Utf8ToWide(utf8), wide);
  EXPECT_EQ(ZarnSdk::WideToUtf8(std::wstring{L'x', static_cast<wchar_t>(0xD800), L'y'}), "x\xEF\xBF\xBDy");
  // A never valid byte, an overlong form, an encoded surrogate, a cut sequence, beyond U+10FFFF.
  const std::pair<std::string, std::wstring> invalid[] = {
      {"a\xFF" "b", L"a\uFFFDb"}, {"a\xC0\xAF" "b", L"a\uFFFD\uFFFDb"}, {"a\xED\xA0\x80" "b", L"a\uFFFD\uFFFD\uFFFDb"},
      {"a\xE4\xB8", L"a\uFFFD"}, {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"}};
  for (const auto& [bytes, expected] : invalid) {
    EXPECT_EQ(ZarnSdk::Utf8ToWide(bytes), expected) << bytes;
    ZarnSdk::GameCallback(CallbackSlot<1>::utf8)(0, bytes, "");  // the C interface hears the same
    EXPECT_EQ(CallbackSlot<1>::log().Records().back().msg, ZarnSdk::WideToUtf8(expected)) << bytes;
  }
}

// Only an absolute folder counts; a Windows value outside the ANSI code page keeps the state.
TEST(Gateway, ServerAndDataFolderComeFromTheEnvironmentWhenGiven) {
  const bool windows = zarnplatform::kNativeSeparator == '\\';
  TempDir temp;
  const std::u8string unicode = (temp.path() / u8"\u0414\u0430\u043d\u043d\u044b\u0435 \u6570\u636e").u8string();
  const std::pair<std::string, bool> cases[] = {
      {std::string(unicode.begin(), unicode.end()), true}, {"/srv/zarn-data", !windows}, {"\\srv\\zarn", false},
      {"C:\\zarn", windows}, {"c:/zarn", windows}, {"C:zarn", false}, {"\\\\server\\share\\zarn", windows},
      {"\\\\server\\", false}, {"relative/data", false}};
  for (const auto& [data, absolute] : cases) {
    ScopedEnv origin("ZARN_SDK_API_ORIGIN", "https://staging.zarn.test:8443");
    ScopedEnv dataHome("ZARN_SDK_DATA_HOME", data);
    const ZarnSdk::SdkOptions options = ZarnSdk::SdkOptions::FromEnvironment();
    EXPECT_EQ(options.apiOrigin, "https://staging.zarn.test:8443");
    EXPECT_EQ(options.localDataFolder.value_or("none"), absolute ? data : "none") << data;
  }
  ZarnSdk::ZarnConfigUtils store(cases[0].first);
  store.WriteConfigJson({{"ClientId", "x"}}, true);
  EXPECT_EQ(ReadFile(std::filesystem::path(unicode) / "ZarnSteamExeSdk" / "SharedConf"), R"({"ClientId":"x"})");
}

TEST(Gateway, ReadmeResultTableListsEverySdkResult) {
  // The rows of the result table as "| code | message |".
  std::ifstream in(ZARN_README_PATH);
  std::vector<std::string> rows;
  bool inSection = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("### ", 0) == 0) inSection = line == "### Result codes";
    // Up to the end of the message cell.
    if (inSection && line.starts_with("| ")) rows.push_back(line.substr(0, line.find(" |", line.find(" | ") + 3) + 2));
  }
  ASSERT_FALSE(rows.empty()) << "no result table in " << ZARN_README_PATH;
  const auto hasRow = [&](const std::string& code, const std::string& messagePiece) {
    return std::any_of(rows.begin(), rows.end(), [&](const std::string& row) {
      return row.rfind("| " + code + " | ", 0) == 0 && row.find(messagePiece) != std::string::npos;
    });
  };
  for (const ZarnSdk::SdkResult& result : ZarnSdk::kSdkResults) {
    const std::string message = "\"" + std::string(result.message) + "\"";
    EXPECT_TRUE(hasRow(std::to_string(result.code), message)) << result.code << " " << message;
  }
  EXPECT_TRUE(hasRow("-501", "the JSON parser's text"));
  EXPECT_TRUE(hasRow("-502", "\"Http Code:"));
}

}  // namespace
}  // namespace zarntest
