#pragma once
// Sessions of the account service, found by the key tag every ciphertext carries.
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zfservice {

struct Session {
  std::string key;
  std::int64_t account = 0;  // 0 until a login succeeds
};

class Sessions {
 public:
  using Clock = std::chrono::steady_clock;
  explicit Sessions(std::chrono::seconds idleLimit) : idleLimit_(idleLimit) {}

  // A new session; returns its key.
  std::string Open();
  // The session a ciphertext belongs to, when it exists and has not idled out.
  std::optional<Session> Find(const std::string& cipherText);
  void SetAccount(const std::string& key, std::int64_t account);
  std::vector<std::string> Tags();

 private:
  void Sweep(Clock::time_point now);
  struct Entry {
    Session session;
    Clock::time_point lastUsed;
  };
  std::chrono::seconds idleLimit_;
  std::map<std::string, Entry> byTag_;
  std::mutex mutex_;
};

}  // namespace zfservice
