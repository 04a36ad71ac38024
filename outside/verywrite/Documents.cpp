#include "Documents.h"

namespace verywrite {

LONG DocumentTable::Add(std::shared_ptr<Document> document) {
  std::lock_guard<std::mutex> hold(lock_);
  if (open_.size() >= kMaxOpen) return 0;
  // Handles count up and are not reused until they wrap, so a stale handle of a
  // closed document does not reach a newer one.
  do last_ = last_ == MAXLONG ? 1 : last_ + 1;
  while (open_.count(last_));
  open_.emplace(last_, std::move(document));
  return last_;
}

std::shared_ptr<Document> DocumentTable::Find(LONG handle) const {
  std::lock_guard<std::mutex> hold(lock_);
  const auto it = open_.find(handle);
  return it == open_.end() ? nullptr : it->second;
}

std::shared_ptr<Document> DocumentTable::Remove(LONG handle) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto it = open_.find(handle);
  if (it == open_.end()) return nullptr;
  std::shared_ptr<Document> document = std::move(it->second);
  open_.erase(it);
  return document;
}

DocumentTable& Documents() {
  static DocumentTable table;
  return table;
}

}  // namespace verywrite
