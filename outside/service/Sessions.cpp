#include "Sessions.h"

#include "CipherCore.h"

namespace zfservice {

std::string Sessions::Open() {
  const std::string key = zfcipher::RandomKeyText(32);
  const std::string tag = zfcipher::KeyTag(key);
  std::lock_guard<std::mutex> lock(mutex_);
  const auto now = Clock::now();
  Sweep(now);
  byTag_[tag] = Entry{Session{key, 0}, now};
  return key;
}

std::optional<Session> Sessions::Find(const std::string& cipherText) {
  const auto tag = zfcipher::TagOf(cipherText);
  if (!tag) return std::nullopt;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto now = Clock::now();
  const auto it = byTag_.find(*tag);
  if (it == byTag_.end()) return std::nullopt;
  if (now - it->second.lastUsed > idleLimit_) {
    byTag_.erase(it);
    return std::nullopt;
  }
  it->second.lastUsed = now;
  return it->second.session;
}

void Sessions::SetAccount(const std::string& key, std::int64_t account) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = byTag_.find(zfcipher::KeyTag(key));
  if (it != byTag_.end()) it->second.session.account = account;
}

std::vector<std::string> Sessions::Tags() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> tags;
  for (const auto& [tag, entry] : byTag_) tags.push_back(tag);
  return tags;
}

void Sessions::Sweep(Clock::time_point now) {
  for (auto it = byTag_.begin(); it != byTag_.end();)
    it = now - it->second.lastUsed > idleLimit_ ? byTag_.erase(it) : std::next(it);
}

}  // namespace zfservice
