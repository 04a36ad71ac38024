#include "Server.h"

#include <sys/socket.h>
#include <netinet/in.h>

#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <vector>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "CipherCore.h"
#include "soapH.h"

SOAP_NMAC struct Namespace namespaces[] = {
    {"SOAP-ENV", "http://schemas.xmlsoap.org/soap/envelope/", "http://www.w3.org/*/soap-envelope", nullptr},
    {"SOAP-ENC", "http://schemas.xmlsoap.org/soap/encoding/", "http://www.w3.org/*/soap-encoding", nullptr},
    {"xsi", "http://www.w3.org/2001/XMLSchema-instance", "http://www.w3.org/*/XMLSchema-instance", nullptr},
    {"xsd", "http://www.w3.org/2001/XMLSchema", "http://www.w3.org/*/XMLSchema", nullptr},
    {"ns1", "http://services.zentrafold.com/", nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr}};

extern const char kServiceWsdl[];

namespace zfservice {
namespace {

const char* const kSharedKey = "Qx7vTn2LpW9rBz4HcM6sKd1YfJ8gUe3A";
// Transport limit: documents up to twice the limit are drained and refused in words.
constexpr ULONG64 kMaxMessageBytes = 2 * static_cast<ULONG64>(kMaxDocumentBytes);

Server& ServerOf(struct soap* soap) { return *static_cast<Server*>(soap->user); }

std::string PathOnly(const char* path) {
  std::string p = path ? path : "";
  const size_t query = p.find('?');
  return query == std::string::npos ? p : p.substr(0, query);
}

bool IsServicePath(const std::string& path) {
  return path == "/Service.asmx" || path == "/ZentrafoldSoap/Service.asmx";
}

int (*g_httpParse)(struct soap*) = nullptr;

int SendText(struct soap* soap, const char* contentType, const std::string& body);

// POST /sink reads and drops the body: a plain-HTTP baseline for benchmarks.
int DrainBody(struct soap* soap) {
  ULONG64 total = 0;
  while (total < soap->length && soap_getchar(soap) != EOF) ++total;
  const int error = SendText(soap, "text/plain", std::to_string(total) + "\n");
  return error ? error : SOAP_STOP;
}

// After the HTTP header: POSTs go only to the two service paths.
int ParseHttp(struct soap* soap) {
  const int error = g_httpParse(soap);
  if (error) return error;
  if (soap->status == SOAP_POST) {
    if (PathOnly(soap->path) == "/sink") return DrainBody(soap);
    if (!IsServicePath(PathOnly(soap->path))) return 404;
    ++ServerOf(soap).counters().requests;
  }
  return SOAP_OK;
}

int SendText(struct soap* soap, const char* contentType, const std::string& body) {
  soap->http_content = contentType;
  if (soap_response(soap, SOAP_FILE) || soap_send_raw(soap, body.data(), body.size()) ||
      soap_end_send(soap))
    return soap_closesock(soap);
  return SOAP_OK;
}

// GET: the service description at "?wsdl", request counts at "/stats".
int HttpGet(struct soap* soap) {
  const std::string full = soap->path;
  const std::string path = PathOnly(soap->path);
  const std::string query = full.size() > path.size() ? full.substr(path.size() + 1) : "";
  if (IsServicePath(path) && (query == "wsdl" || query == "WSDL"))
    return SendText(soap, "text/xml; charset=utf-8", kServiceWsdl);
  if (path == "/stats") {
    Counters& c = ServerOf(soap).counters();
    std::string body = "requests " + std::to_string(c.requests.load()) + "\nstart_session " +
                       std::to_string(c.startSession.load()) + "\nclient_request " +
                       std::to_string(c.clientRequest.load()) + "\nsessions";
    for (const auto& tag : ServerOf(soap).sessions().Tags()) body += " " + tag;
    return SendText(soap, "text/plain", body + "\n");
  }
  return 404;
}

// DIME attachments are received straight into a file of the store, so an upload
// is neither held in memory nor copied twice.
struct UploadFile {
  int fd = -1;
  std::string path;
  std::size_t size = 0;
};
thread_local std::vector<std::unique_ptr<UploadFile>> t_uploads;

void* DimeWriteOpen(struct soap* soap, const char*, const char*, const char*) {
  auto file = std::make_unique<UploadFile>();
  file->fd = ServerOf(soap).store().NewUploadFile(file->path);
  if (file->fd < 0) {
    soap->error = SOAP_EOM;
    return nullptr;
  }
  t_uploads.push_back(std::move(file));
  return t_uploads.back().get();
}

int DimeWrite(struct soap*, void* handle, const char* data, size_t length) {
  auto* file = static_cast<UploadFile*>(handle);
  file->size += length;
  // Past the limit the rest is drained unwritten; the command then refuses it.
  if (file->size > kMaxDocumentBytes) return SOAP_OK;
  for (size_t done = 0; done < length;) {
    const ssize_t n = write(file->fd, data + done, length - done);
    if (n <= 0) return SOAP_EOF;
    done += static_cast<size_t>(n);
  }
  return SOAP_OK;
}

void DimeWriteClose(struct soap*, void* handle) {
  auto* file = static_cast<UploadFile*>(handle);
  close(file->fd);
  file->fd = -1;
}

// Files of this request that no document took over.
void DropUploads(const std::string& taken = std::string()) {
  for (const auto& file : t_uploads) {
    if (file->fd >= 0) close(file->fd);
    if (file->path != taken) unlink(file->path.c_str());
  }
  t_uploads.clear();
}

char* Copy(struct soap* soap, const std::string& text) {
  char* out = static_cast<char*>(soap_malloc(soap, text.size() + 1));
  if (out) std::memcpy(out, text.c_str(), text.size() + 1);
  return out;
}

}  // namespace

Server::Server(const ServerOptions& options)
    : options_(options),
      store_(options.dataDir),
      sessions_(options.sessionIdle),
      commands_(store_, sessions_) {}

int Server::Run(const std::atomic<bool>& stop) {
  struct soap master;
  soap_init2(&master, SOAP_IO_KEEPALIVE, SOAP_IO_KEEPALIVE);
  master.user = this;
  master.bind_flags = SO_REUSEADDR;
  master.accept_timeout = 1;  // wake up to see stop
  if (!soap_valid_socket(soap_bind(&master, "127.0.0.1", options_.port, 100))) {
    std::fprintf(stderr, "zentrafold-service: cannot listen on 127.0.0.1:%d (%s)\n",
                 options_.port, options_.port ? "port in use?" : "no free port");
    soap_done(&master);
    return 2;
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(master.master, reinterpret_cast<sockaddr*>(&bound), &length);
  std::printf("zentrafold-service listening on 127.0.0.1:%d\n", ntohs(bound.sin_port));
  std::fflush(stdout);

  g_httpParse = master.fparse;
  std::mutex mutex;
  std::condition_variable idle;
  int active = 0;
  while (!stop) {
    if (!soap_valid_socket(soap_accept(&master))) continue;  // time-out or signal
    struct soap* worker = soap_copy(&master);
    if (!worker) {
      soap_force_closesock(&master);
      continue;
    }
    worker->recv_timeout = worker->send_timeout = 60;
    worker->recv_maxlength = kMaxMessageBytes;
    worker->fget = HttpGet;
    worker->fparse = ParseHttp;
    worker->fdimewriteopen = DimeWriteOpen;
    worker->fdimewrite = DimeWrite;
    worker->fdimewriteclose = DimeWriteClose;
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++active;
    }
    std::thread([worker, &mutex, &idle, &active] {
      soap_serve(worker);
      DropUploads();
      soap_destroy(worker);
      soap_end(worker);
      soap_free(worker);
      std::lock_guard<std::mutex> lock(mutex);
      if (--active == 0) idle.notify_all();
    }).detach();
  }
  // Let the requests under way finish before the store closes.
  std::unique_lock<std::mutex> lock(mutex);
  idle.wait_for(lock, std::chrono::seconds(30), [&] { return active == 0; });
  soap_done(&master);
  return 0;
}

}  // namespace zfservice

using zfservice::Attachment;
using zfservice::ServerOf;

int __ns1__StartSession(struct soap* soap, _ns1__StartSession*,
                        _ns1__StartSessionResponse& response) {
  auto& server = ServerOf(soap);
  ++server.counters().startSession;
  const std::string key = server.sessions().Open();
  response.StartSessionResult = zfservice::Copy(soap, zfcipher::Encipher(key, zfservice::kSharedKey));
  return SOAP_OK;
}

int __ns1__ClientRequest(struct soap* soap, _ns1__ClientRequest* request,
                         _ns1__ClientRequestResponse& response) {
  auto& server = ServerOf(soap);
  ++server.counters().clientRequest;
  const std::string cipher = request && request->strCipher ? request->strCipher : "";
  const auto session = server.sessions().Find(cipher);
  if (!session) return soap_sender_fault(soap, "Unknown or expired session", nullptr);
  const auto text = zfcipher::Decipher(cipher, session->key);
  if (!text) return soap_sender_fault(soap, "The request does not decipher", nullptr);

  Attachment attachment;
  const Attachment* attached = nullptr;
  if (soap->dime.list) {
    const soap_multipart* part = soap->dime.list;
    if (part->next) return soap_sender_fault(soap, "Only one attachment is accepted", nullptr);
    const auto* file = reinterpret_cast<const zfservice::UploadFile*>(part->ptr);
    attachment.file = file ? file->path : "";
    attachment.size = file ? file->size : 0;
    attachment.type = part->type ? part->type : "";
    attachment.id = part->id ? part->id : "";
    if (part->options) {
      // 2-byte type, 2-byte length (high byte first), then the text.
      const size_t size = 4 + ((static_cast<unsigned char>(part->options[2]) << 8) |
                               static_cast<unsigned char>(part->options[3]));
      attachment.options.assign(part->options, size);
    }
    attached = &attachment;
  }

  const zfservice::Reply reply = server.commands().Handle(*session, *text, attached);
  zfservice::DropUploads(reply.tookFile ? attachment.file : std::string());
  if (reply.fault) return soap_sender_fault(soap, reply.fault->c_str(), nullptr);
  response.ClientRequestResult = zfservice::Copy(
      soap, reply.encipher ? zfcipher::Encipher(reply.text, session->key) : reply.text);
  return SOAP_OK;
}
