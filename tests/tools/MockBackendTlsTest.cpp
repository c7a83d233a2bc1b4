// The HTTPS side: the authority written at start is the one clients must trust.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

#include "MockRequestBodies.h"
#include "Harness.h"
#include "tools/certgen/CertGen.h"
#include "tools/mock_backend/MockBackend.h"

using namespace mocktest;
namespace paths = zarnmock::paths;
namespace fs = std::filesystem;

namespace {

httplib::Result PostVerified(const std::string& host, int port, const std::string& caFile) {
  httplib::SSLClient client(host, port);
  client.set_ca_cert_path(caFile.c_str());
  client.enable_server_certificate_verification(true);
  return PostForm(client, paths::kClientConfig, kClientConfigBody);
}

}  // namespace

TEST(MockBackendTls, ServesHttpsTrustedThroughTheWrittenAuthority) {
  zarntest::TempDir dir;
  const std::string caFile = (dir.path() / "ca.pem").string();
  zarnmock::MockOptions options;
  options.caCertFile = caFile;
  zarnmock::MockBackend backend(options);
  backend.Start();
  EXPECT_EQ(backend.Origin(), "https://127.0.0.1:" + std::to_string(backend.Port()));
  EXPECT_EQ(backend.CaCertFile(), caFile);

  for (const char* host : {"127.0.0.1", "localhost"}) {
    auto result = PostVerified(host, backend.Port(), caFile);
    ASSERT_TRUE(result) << host << ": " << httplib::to_string(result.error());
    EXPECT_EQ(nlohmann::json::parse(result->body)["code"], 200);
  }
  EXPECT_TRUE(backend.Requests().at(0).ok);

  // Another authority is not trusted, and plain HTTP is not answered on the TLS port.
  const std::string otherCa = (dir.path() / "other.pem").string();
  zarncert::WritePem(otherCa, zarncert::MakeAuthority("Someone Else").certPem);
  EXPECT_FALSE(PostVerified("127.0.0.1", backend.Port(), otherCa));
  httplib::Client plain("127.0.0.1", backend.Port());
  auto result = PostForm(plain, paths::kClientConfig, kClientConfigBody);
  EXPECT_TRUE(!result || result->status != 200);

  backend.Stop();
  EXPECT_TRUE(fs::exists(caFile));  // the caller's file stays
}

TEST(MockBackendTls, OwnTemporaryAuthorityFileIsRemovedOnStop) {
  zarnmock::MockBackend backend;
  backend.Start();
  const std::string caFile = backend.CaCertFile();
  ASSERT_FALSE(caFile.empty());
  auto result = PostVerified("127.0.0.1", backend.Port(), caFile);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  backend.Stop();
  EXPECT_FALSE(fs::exists(caFile));
}
