#pragma once
// The multi-threaded SOAP server of the local account service.
#include <atomic>
#include <chrono>
#include <string>

#include "Commands.h"
#include "Sessions.h"
#include "Store.h"

namespace zfservice {

struct ServerOptions {
  std::string dataDir;
  int port = 0;  // 0: any free port
  std::chrono::seconds sessionIdle{1800};
};

struct Counters {
  std::atomic<long> requests{0};        // POSTs to a service path
  std::atomic<long> startSession{0};
  std::atomic<long> clientRequest{0};
};

class Server {
 public:
  explicit Server(const ServerOptions& options);
  // Binds, prints the port and serves until stop is set; returns the exit code.
  int Run(const std::atomic<bool>& stop);

  Store& store() { return store_; }
  Sessions& sessions() { return sessions_; }
  Commands& commands() { return commands_; }
  Counters& counters() { return counters_; }

 private:
  ServerOptions options_;
  Store store_;
  Sessions sessions_;
  Commands commands_;
  Counters counters_;
};

}  // namespace zfservice
