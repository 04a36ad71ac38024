#include "ServiceProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace zftest {
namespace {

std::string MakeTempDir() {
  char pattern[] = "/tmp/zf-service-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

int ConnectLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string ReadAll(int fd) {
  std::string out;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

// Runs argv, returns its standard output (and its stderr when withErrors).
std::string Capture(const std::vector<std::string>& args, int* exitCode = nullptr,
                    bool withErrors = false) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  if (withErrors) posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) {
    close(pipeFds[0]);
    throw std::runtime_error("cannot start " + args[0]);
  }
  std::string out = ReadAll(pipeFds[0]);
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

}  // namespace

std::string ServiceProgram() {
  const char* fromEnv = std::getenv("ZF_SERVICE_PROGRAM");
  return fromEnv && *fromEnv ? fromEnv : ZF_SERVICE_PROGRAM;
}

ServiceProcess::ServiceProcess(std::vector<std::string> extraArgs) : dataDir_(MakeTempDir()) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<std::string> args = {ServiceProgram(), "serve", "--port", "0", "--data", dataDir_};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) {
    close(pipeFds[0]);
    throw std::runtime_error("cannot start the account service " + args[0]);
  }
  // "zentrafold-service listening on 127.0.0.1:PORT"
  std::string line;
  pollfd pfd{pipeFds[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&pfd, 1, 10000) > 0) {
    char c[256];
    const ssize_t n = read(pipeFds[0], c, sizeof c);
    if (n <= 0) break;
    line.append(c, static_cast<size_t>(n));
  }
  close(pipeFds[0]);
  const size_t colon = line.rfind(':');
  if (colon == std::string::npos || (port_ = std::atoi(line.c_str() + colon + 1)) <= 0)
    throw std::runtime_error("the account service did not start: " + line);
}

int ServiceProcess::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

ServiceProcess::~ServiceProcess() {
  Stop();
  std::error_code ec;
  std::filesystem::remove_all(dataDir_, ec);
}

std::map<std::string, long> ServiceProcess::Stats() const {
  std::map<std::string, long> stats;
  std::istringstream lines(HttpGet(port_, "/stats"));
  std::string name;
  long value = 0;
  while (lines >> name) {
    if (name == "sessions") break;
    if (lines >> value) stats[name] = value;
  }
  return stats;
}

std::vector<std::string> ServiceProcess::SessionTags() const {
  const std::string body = HttpGet(port_, "/stats");
  std::vector<std::string> tags;
  const size_t at = body.find("sessions");
  if (at == std::string::npos) return tags;
  std::istringstream words(body.substr(at + 8));
  std::string tag;
  while (words >> tag) tags.push_back(tag);
  return tags;
}

std::string ServiceProcess::Tool(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {ServiceProgram()};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back("--data");
  argv.push_back(dataDir_);
  return Capture(argv);
}

std::string RunProgram(const std::vector<std::string>& args, int* exitCode) {
  return Capture(args, exitCode, true);
}

std::string HttpExchange(int port, const std::string& request) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return "";
  WriteAll(fd, request);
  const std::string reply = ReadAll(fd);
  close(fd);
  return reply;
}

std::string HttpGet(int port, const std::string& path, int* status) {
  const std::string reply =
      HttpExchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  if (status) *status = reply.size() > 12 ? std::atoi(reply.c_str() + 9) : 0;
  const size_t body = reply.find("\r\n\r\n");
  return body == std::string::npos ? "" : reply.substr(body + 4);
}

CannedHttpServer::CannedHttpServer() {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener_, 16) != 0)
    throw std::runtime_error("cannot listen on loopback");
  socklen_t length = sizeof addr;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread(&CannedHttpServer::Serve, this);
}

CannedHttpServer::~CannedHttpServer() {
  shutdown(listener_, SHUT_RDWR);
  close(listener_);
  thread_.join();
}

void CannedHttpServer::Push(Script script) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_.push_back(std::move(script));
}

std::vector<HttpRequest> CannedHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void CannedHttpServer::Serve() {
  for (;;) {
    const int fd = accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    std::string data;
    char buffer[65536];
    size_t headerEnd = std::string::npos, contentLength = 0;
    for (;;) {
      if (headerEnd == std::string::npos && (headerEnd = data.find("\r\n\r\n")) != std::string::npos) {
        std::string lower = data.substr(0, headerEnd);
        for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const size_t at = lower.find("content-length:");
        if (at != std::string::npos) contentLength = std::strtoul(lower.c_str() + at + 15, nullptr, 10);
      }
      if (headerEnd != std::string::npos && data.size() >= headerEnd + 4 + contentLength) break;
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      data.append(buffer, static_cast<size_t>(n));
    }
    HttpRequest request;
    if (headerEnd != std::string::npos) {
      std::istringstream head(data.substr(0, headerEnd));
      std::string line;
      std::getline(head, line);
      std::istringstream first(line);
      first >> request.method >> request.path;
      while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t value = colon + 1;
        while (value < line.size() && line[value] == ' ') ++value;
        request.headers[name] = line.substr(value);
      }
      request.body = data.substr(headerEnd + 4);
    }
    Script script;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
      if (!scripts_.empty()) {
        script = std::move(scripts_.front());
        scripts_.pop_front();
      }
    }
    HttpResponse response = script ? script(request) : HttpResponse{404, "", "text/plain"};
    std::ostringstream reply;
    reply << "HTTP/1.1 " << response.status << (response.status == 200 ? " OK" : " Error")
          << "\r\nContent-Type: " << response.contentType
          << "\r\nContent-Length: " << response.body.size() << "\r\nConnection: close\r\n\r\n"
          << response.body;
    WriteAll(fd, reply.str());
    close(fd);
  }
}

std::string SoapEnvelope(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:ns1=\"http://services.zentrafold.com/\"><SOAP-ENV:Body>" +
         body + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string SoapFault(const std::string& text) {
  return SoapEnvelope("<SOAP-ENV:Fault><faultcode>SOAP-ENV:Client</faultcode><faultstring>" +
                      text + "</faultstring></SOAP-ENV:Fault>");
}

}  // namespace zftest
