#pragma once
// Test peers on loopback: the local account service as a child process, and a
// scripted HTTP server that answers with canned replies and records requests.
// Standard C++ types only.
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zftest {

// A fresh account service with its own data folder, ended by the destructor.
class ServiceProcess {
 public:
  explicit ServiceProcess(std::vector<std::string> extraArgs = {});
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;
  ~ServiceProcess();
  // Ends the service with SIGTERM; returns its exit code.
  int Stop();

  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  const std::string& dataDir() const { return dataDir_; }

  // Counters from GET /stats: "requests", "start_session", "client_request".
  std::map<std::string, long> Stats() const;
  // Key tags of the live sessions.
  std::vector<std::string> SessionTags() const;
  // Output of `zentrafold-service ARGS --data DIR`.
  std::string Tool(const std::vector<std::string>& args) const;

 private:
  std::string dataDir_;
  int pid_ = -1;
  int port_ = 0;
};

// The body of GET http://127.0.0.1:port/path, or "" on failure.
std::string HttpGet(int port, const std::string& path, int* status = nullptr);
// Sends a raw HTTP request, returns the whole raw reply.
std::string HttpExchange(int port, const std::string& request);

// Runs a program; returns what it wrote to stdout and stderr together.
std::string RunProgram(const std::vector<std::string>& args, int* exitCode);

// The account service's program, for tests that start it themselves.
std::string ServiceProgram();

struct HttpRequest {
  std::string method, path;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

struct HttpResponse {
  int status = 200;
  std::string body;
  std::string contentType = "text/xml; charset=utf-8";
};

// Answers each connection's request with the next scripted response.
class CannedHttpServer {
 public:
  using Script = std::function<HttpResponse(const HttpRequest&)>;
  CannedHttpServer();
  CannedHttpServer(const CannedHttpServer&) = delete;
  CannedHttpServer& operator=(const CannedHttpServer&) = delete;
  ~CannedHttpServer();

  void Push(Script script);
  void Push(HttpResponse response) {
    Push([response](const HttpRequest&) { return response; });
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<HttpRequest> Requests() const;

 private:
  void Serve();
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::deque<Script> scripts_;
  std::vector<HttpRequest> requests_;
};

// A SOAP 1.1 envelope around body (in the service's namespace as ns1).
std::string SoapEnvelope(const std::string& body);
std::string SoapFault(const std::string& text);

}  // namespace zftest
