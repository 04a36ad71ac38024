#pragma once
// The commands carried inside ClientRequest, as the service answers them.
#include <cstdint>
#include <optional>
#include <string>

#include "Sessions.h"
#include "Store.h"

namespace zfservice {

// What came with the request besides its text.
struct Attachment {
  const void* data = nullptr;  // in memory, or
  std::string file;            // received straight into this file of the store
  std::size_t size = 0;
  std::string type, id;
  std::string options;  // raw DIME option bytes
};

constexpr std::size_t kMaxDocumentBytes = 256u << 20;

struct Reply {
  std::string text;
  bool encipher = false;  // short codes travel plain
  std::optional<std::string> fault;  // refuse with a SOAP fault instead
  bool tookFile = false;             // the attachment's file became a document
};

class Commands {
 public:
  Commands(Store& store, Sessions& sessions) : store_(store), sessions_(sessions) {}
  // text is the deciphered request text of session.
  Reply Handle(const Session& session, const std::string& text, const Attachment* attachment);

 private:
  Store& store_;
  Sessions& sessions_;
};

}  // namespace zfservice
