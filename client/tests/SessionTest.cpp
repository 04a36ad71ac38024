// The client's session with the account service, over loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "CipherCore.h"
#include "Owners.h"
#include "RegistrySandbox.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"

namespace {

using zftest::CannedHttpServer;
using zftest::HttpResponse;
using zftest::SoapEnvelope;

const std::string kSharedKey = "Qx7vTn2LpW9rBz4HcM6sKd1YfJ8gUe3A";

class SessionTest : public ::testing::Test {
 protected:
  zf::ComApartment com_;
  zftest::SettingsSandbox settings_;
};

HttpResponse StartSessionReply(const std::string& sessionKey) {
  return {200, SoapEnvelope("<ns1:StartSessionResponse><ns1:StartSessionResult>" +
                            zfcipher::Encipher(sessionKey, kSharedKey) +
                            "</ns1:StartSessionResult></ns1:StartSessionResponse>")};
}

TEST_F(SessionTest, OpensSessionWithTheKeyTheServiceIssued) {
  zftest::ServiceProcess service;
  settings_.PointAt(service.host());
  zf::ServiceClient client;
  EXPECT_EQ("http://" + service.host() + "/Service.asmx", client.Endpoint());
  ASSERT_TRUE(client.StartSession());
  ASSERT_EQ(32u, client.SessionKey().size());
  const auto tags = service.SessionTags();
  ASSERT_EQ(1u, tags.size());
  EXPECT_EQ(zfcipher::KeyTag(client.SessionKey()), tags[0]);

  // Held for the object's life: no second StartSession.
  const std::string key = client.SessionKey();
  EXPECT_TRUE(client.StartSession());
  EXPECT_EQ(key, client.SessionKey());
  EXPECT_EQ(1, service.Stats()["start_session"]);
}

TEST_F(SessionTest, ProductionHostWithoutServiceHostValue) {
  zftest::DeleteSettingsValue("ServiceHost");
  zf::ServiceClient client;
  EXPECT_EQ("http://services.zentrafold.com/Service.asmx", client.Endpoint());
}

TEST_F(SessionTest, WithoutCipherComponentNothingReachesTheService) {
  zftest::ServiceProcess service;
  settings_.PointAt(service.host());
  zftest::CipherUnregistered gone;
  ASSERT_TRUE(gone.HadRegistration());

  zf::ServiceClient client;
  zf::FolderList folders;
  EXPECT_FALSE(client.CreateAccount("a@example.com", "pw", "A", "B"));
  EXPECT_FALSE(client.Login("a@example.com", "pw"));
  EXPECT_FALSE(client.ListFolders("a@example.com", "pw", folders));
  EXPECT_FALSE(client.StoreAccount());
  zf::AccountRecord account;
  EXPECT_FALSE(zf::LoadAccount(account));
  EXPECT_TRUE(client.SessionKey().empty());
  // StartSession itself went out, but its key could not be deciphered; no
  // enciphered request followed.
  const auto stats = service.Stats();
  EXPECT_EQ(0, stats.at("client_request"));
}

TEST_F(SessionTest, ServiceDownFails) {
  settings_.PointAt("127.0.0.1:1");
  zf::ServiceClient client;
  EXPECT_FALSE(client.StartSession());
  EXPECT_FALSE(client.Login("a@example.com", "pw"));
}

TEST_F(SessionTest, StartSessionWireFormat) {
  CannedHttpServer canned;
  canned.Push(StartSessionReply("abc"));
  settings_.PointAt(canned.host());
  zf::ServiceClient client;
  ASSERT_TRUE(client.StartSession());
  EXPECT_EQ("abc", client.SessionKey());

  const auto requests = canned.Requests();
  ASSERT_EQ(1u, requests.size());
  const auto& r = requests[0];
  EXPECT_EQ("POST", r.method);
  EXPECT_EQ("/Service.asmx", r.path);
  EXPECT_EQ("\"http://services.zentrafold.com/StartSession\"", r.headers.at("soapaction"));
  EXPECT_EQ(std::string::npos, r.body.find("Header")) << r.body;
  EXPECT_TRUE(std::regex_search(
      r.body, std::regex("<SOAP-ENV:Body>\\s*<ns1:StartSession\\s*(/>|>\\s*</ns1:StartSession>)"
                         "\\s*</SOAP-ENV:Body>")))
      << r.body;
  // The namespace table: the four standard prefixes, then the service's.
  EXPECT_NE(std::string::npos, r.body.find("xmlns:ns1=\"http://services.zentrafold.com/\""));
}

TEST_F(SessionTest, BadRepliesFail) {
  struct Case {
    const char* what;
    HttpResponse reply;
  } cases[] = {
      {"SOAP fault", {500, zftest::SoapFault("no sessions today")}},
      {"other body element",
       {200, SoapEnvelope("<ns1:ClientRequestResponse><ns1:ClientRequestResult>x"
                          "</ns1:ClientRequestResult></ns1:ClientRequestResponse>")}},
      {"no result element", {200, SoapEnvelope("<ns1:StartSessionResponse/>")}},
      {"result not enciphered with the shared key",
       {200, SoapEnvelope("<ns1:StartSessionResponse><ns1:StartSessionResult>" +
                          zfcipher::Encipher("key", "another key") +
                          "</ns1:StartSessionResult></ns1:StartSessionResponse>")}},
      {"HTTP error", {404, "not here", "text/plain"}},
      {"not XML", {200, "hello", "text/plain"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CannedHttpServer canned;
    canned.Push(c.reply);
    settings_.PointAt(canned.host());
    zf::ServiceClient client;
    EXPECT_FALSE(client.StartSession());
    EXPECT_TRUE(client.SessionKey().empty());
  }
}

TEST_F(SessionTest, ClientRequestFaultFailsTheCommand) {
  CannedHttpServer canned;
  canned.Push(StartSessionReply("session-key"));
  canned.Push(HttpResponse{500, zftest::SoapFault("Unknown or expired session")});
  settings_.PointAt(canned.host());
  zf::ServiceClient client;
  EXPECT_FALSE(client.Login("a@example.com", "pw"));
  ASSERT_EQ(2u, canned.Requests().size());
  EXPECT_EQ("\"http://services.zentrafold.com/ClientRequest\"",
            canned.Requests()[1].headers.at("soapaction"));
}

TEST_F(SessionTest, ExpiredSessionIsRefused) {
  zftest::ServiceProcess service({"--session-idle", "1"});
  settings_.PointAt(service.host());
  zf::ServiceClient client;
  ASSERT_TRUE(client.CreateAccount("idle@example.com", "pw", "I", "D"));
  ASSERT_TRUE(client.Login("idle@example.com", "pw"));
  Sleep(2100);
  EXPECT_FALSE(client.Login("idle@example.com", "pw"));
  zf::ServiceClient fresh;
  EXPECT_TRUE(fresh.Login("idle@example.com", "pw"));
}

}  // namespace
