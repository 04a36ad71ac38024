#pragma once
// The SOAP proxy of the account service. Built natively over gSOAP's generated
// stubs; this header uses standard C++ types only so Win32 units can include it.
#include <cstddef>
#include <optional>
#include <string>

struct soap;

namespace zf {

struct StartSessionRequest {};
struct StartSessionResponse {
  std::optional<std::string> StartSessionResult;
};

// A DIME attachment sent with a ClientRequest.
struct DimeAttachment {
  const void* data = nullptr;
  std::size_t size = 0;
  std::string type;
  std::string id;
  unsigned short optionType = 0;
  std::string option;
};

struct ClientRequestRequest {
  std::optional<std::string> strCipher;
  const DimeAttachment* attachment = nullptr;  // switches the message to DIME
};
struct ClientRequestResponse {
  std::optional<std::string> ClientRequestResult;
};

// Namespace URI of the service; SOAPActions are this plus the operation name.
extern const char* const kServiceNamespace;

class ServiceSoapProxy {
 public:
  ServiceSoapProxy();
  ServiceSoapProxy(const ServiceSoapProxy&) = delete;
  ServiceSoapProxy& operator=(const ServiceSoapProxy&) = delete;
  virtual ~ServiceSoapProxy();

  // Each returns the gSOAP status: 0 on success.
  virtual int StartSession(const StartSessionRequest& request, StartSessionResponse& response);
  virtual int ClientRequest(const ClientRequestRequest& request, ClientRequestResponse& response);

  // Not owned; when null the stubs' default (local development) endpoint is used.
  const char* endpoint = nullptr;

 private:
  struct soap* soap_;
};

}  // namespace zf
