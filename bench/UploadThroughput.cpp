// Upload throughput of the client's upload operation against a plain HTTP POST
// of the same bytes to the same service host (curl to the service's /sink).
#include <windows.h>

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "../client/tests/RegistrySandbox.h"
#include "Owners.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"

extern char** environ;

namespace {

// Best of several runs: the machine is shared, the minimum is the least disturbed.
constexpr int kRuns = 7;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

bool WriteDocument(const std::string& path, size_t size) {
  zf::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::vector<char> chunk(1 << 20);
  unsigned state = 12345;
  for (auto& c : chunk) c = static_cast<char>((state = state * 1103515245 + 12345) >> 24);
  for (size_t done = 0; done < size;) {
    const DWORD n = static_cast<DWORD>(std::min(chunk.size(), size - done));
    DWORD written = 0;
    if (!WriteFile(file.get(), chunk.data(), n, &written, nullptr)) return false;
    done += written;
  }
  return true;
}

double CurlPost(const std::string& unixPath, int port) {
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/sink";
  const std::string data = "@" + unixPath;
  std::vector<const char*> argv = {"/usr/bin/curl", "-s", "-o", "/dev/null", "-H",
                                   "Content-Type: application/octet-stream", "--data-binary",
                                   data.c_str(), url.c_str(), nullptr};
  const auto start = Clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv.data()), environ))
    return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return Seconds(start);
}

double Upload(const std::string& path) {
  const auto start = Clock::now();
  zf::ServiceClient client;
  if (!client.UploadDocument(path, "bench", "", "")) return -1;
  return Seconds(start);
}

}  // namespace

int main() {
  zf::ComApartment com;
  zftest::ServiceProcess service;
  zftest::SettingsSandbox settings(service.host());
  zf::ServiceClient account;
  if (!account.CreateAccount("bench@example.com", "pw", "B", "M") || !account.StoreAccount()) {
    std::fprintf(stderr, "cannot set up the bench account\n");
    return 1;
  }
  const std::string dir = service.dataDir();
  char windowsDir[MAX_PATH];
  GetFullPathNameA(("Z:" + dir + "/").c_str(), MAX_PATH, windowsDir, nullptr);

  // Session, login and request overhead, taken off the transfer times below.
  const std::string empty = std::string(windowsDir) + "empty.bin";
  WriteDocument(empty, 0);
  double overhead = 1e9;
  for (int i = 0; i < kRuns; ++i) overhead = std::min(overhead, Upload(empty));
  std::printf("upload of an empty document (session, login, request): %.3f s\n", overhead);
  std::printf("%8s %10s %10s %10s %12s %12s %12s\n", "size", "upload s", "curl s", "op/curl",
              "transfer s", "transfer/curl", "curl MB/s");
  for (size_t mb : {1, 10, 50}) {
    const std::string name = "doc" + std::to_string(mb) + ".bin";
    const std::string path = std::string(windowsDir) + name;
    if (!WriteDocument(path, mb << 20)) return 1;
    double upload = 1e9, curl = 1e9;
    for (int i = 0; i < kRuns; ++i) {
      upload = std::min(upload, Upload(path));
      curl = std::min(curl, CurlPost(dir + "/" + name, service.port()));
    }
    // The whole operation (session, login, upload) and the transfer alone.
    const double transfer = upload - overhead;
    std::printf("%6zu MB %10.3f %10.3f %10.2f %12.3f %12s %12.0f\n", mb, upload, curl,
                curl / upload, transfer,
                transfer > 0.01 ? std::to_string(curl / transfer).substr(0, 5).c_str() : "(noise)",
                mb / curl);
    DeleteFileA(path.c_str());
  }
  return 0;
}
