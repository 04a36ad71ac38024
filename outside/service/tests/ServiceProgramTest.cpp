// The service program as a person or a test harness starts it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "ServiceProcess.h"

using zftest::HttpExchange;
using zftest::HttpGet;
using zftest::RunProgram;
using zftest::ServiceProcess;
using zftest::ServiceProgram;

TEST(ServiceProgram, ServesItsDescriptionOnBothPaths) {
  ServiceProcess service;
  for (const char* path : {"/Service.asmx?wsdl", "/ZentrafoldSoap/Service.asmx?wsdl"}) {
    SCOPED_TRACE(path);
    int status = 0;
    const std::string wsdl = HttpGet(service.port(), path, &status);
    EXPECT_EQ(200, status);
    EXPECT_NE(std::string::npos, wsdl.find("<definitions")) << wsdl.substr(0, 200);
    EXPECT_NE(std::string::npos, wsdl.find("soapAction=\"http://services.zentrafold.com/StartSession\""));
    EXPECT_NE(std::string::npos, wsdl.find("ClientRequestResult"));
  }
}

TEST(ServiceProgram, RefusesOtherPaths) {
  ServiceProcess service;
  int status = 0;
  HttpGet(service.port(), "/elsewhere?wsdl", &status);
  EXPECT_EQ(404, status);
  const std::string body = "<x/>";
  const std::string reply = HttpExchange(
      service.port(), "POST /elsewhere.asmx HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: text/xml\r\n"
                      "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  EXPECT_EQ(0u, reply.find("HTTP/1.1 404")) << reply.substr(0, 80);
  EXPECT_EQ(0, service.Stats()["requests"]);
}

TEST(ServiceProgram, EndsCleanlyOnSigterm) {
  ServiceProcess service;
  EXPECT_EQ(0, service.Stop());
}

TEST(ServiceProgram, PortInUseIsReported) {
  ServiceProcess first;
  int code = 0;
  const std::string out = RunProgram({ServiceProgram(), "serve", "--port",
                                      std::to_string(first.port()), "--data", first.dataDir()},
                                     &code);
  EXPECT_EQ(2, code);
  EXPECT_NE(std::string::npos, out.find("cannot listen on 127.0.0.1:" + std::to_string(first.port())))
      << out;
}

TEST(ServiceProgram, BadArgumentsAndUnusableDataFolder) {
  char file[] = "/tmp/zf-not-a-folder-XXXXXX";
  const int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"serve", "--port", "0", "--data", std::string(file) + "/sub"}, "cannot be used"},
      {{"serve", "--port", "70000", "--data", "/tmp"}, "bad port"},
      {{"serve", "--port", "x", "--data", "/tmp"}, "bad port"},
      {{"serve"}, "usage"},
      {{"bogus", "--data", "/tmp/zf-unused"}, "usage"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{ServiceProgram()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    int code = 0;
    const std::string out = RunProgram(args, &code);
    SCOPED_TRACE(out);
    EXPECT_EQ(2, code);
    EXPECT_NE(std::string::npos, out.find(c.says));
  }
  std::remove(file);
}
