#pragma once
#include <string>
#include <vector>

namespace zf {

// One folder of the user's folder list.
struct FolderEntry {
  std::string id;      // the service's identifier (36 characters once the service knows it)
  std::string second;  // carried back to the service unchanged
  std::string name;
  bool changed = false;
  bool deleted = false;
};

using FolderList = std::vector<FolderEntry>;

// Identifiers the service issues are this long; shorter ones were made locally.
constexpr size_t kFolderIdLength = 36;

}  // namespace zf
