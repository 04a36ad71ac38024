#include "ServiceProxy.h"

#include "soapH.h"

// The runtime looks for a global table; the proxy installs the same one.
SOAP_NMAC struct Namespace namespaces[] = {
    {"SOAP-ENV", "http://schemas.xmlsoap.org/soap/envelope/", "http://www.w3.org/*/soap-envelope", nullptr},
    {"SOAP-ENC", "http://schemas.xmlsoap.org/soap/encoding/", "http://www.w3.org/*/soap-encoding", nullptr},
    {"xsi", "http://www.w3.org/2001/XMLSchema-instance", "http://www.w3.org/*/XMLSchema-instance", nullptr},
    {"xsd", "http://www.w3.org/2001/XMLSchema", "http://www.w3.org/*/XMLSchema", nullptr},
    {"ns1", "http://services.zentrafold.com/", nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr}};

namespace zf {

const char* const kServiceNamespace = "http://services.zentrafold.com/";

namespace {

std::optional<std::string> Take(const char* text) {
  if (!text) return std::nullopt;
  return std::string(text);
}

// Frees what one call allocated in the context, whatever happened.
struct CallScope {
  struct soap* soap;
  ~CallScope() {
    soap_clr_dime(soap);
    soap_destroy(soap);
    soap_end(soap);
  }
};

}  // namespace

ServiceSoapProxy::ServiceSoapProxy() : soap_(soap_new()) {
  if (soap_ && !soap_->namespaces) soap_->namespaces = namespaces;
}

ServiceSoapProxy::~ServiceSoapProxy() {
  if (!soap_) return;
  soap_destroy(soap_);
  soap_end(soap_);
  soap_free(soap_);
}

int ServiceSoapProxy::StartSession(const StartSessionRequest&, StartSessionResponse& response) {
  if (!soap_) return SOAP_EOM;
  CallScope scope{soap_};
  _ns1__StartSession request;
  _ns1__StartSessionResponse reply;
  const int status =
      soap_call___ns1__StartSession(soap_, endpoint, nullptr, &request, reply);
  if (status == SOAP_OK) response.StartSessionResult = Take(reply.StartSessionResult);
  return status;
}

int ServiceSoapProxy::ClientRequest(const ClientRequestRequest& request,
                                    ClientRequestResponse& response) {
  if (!soap_) return SOAP_EOM;
  CallScope scope{soap_};
  _ns1__ClientRequest message;
  std::string cipher = request.strCipher.value_or(std::string());
  message.strCipher = request.strCipher ? cipher.data() : nullptr;

  if (const DimeAttachment* a = request.attachment) {
    soap_set_dime(soap_);
    // gSOAP keeps the pointers until the message is sent; a's strings outlive the call.
    if (soap_set_dime_attachment(soap_, static_cast<const char*>(a->data), a->size,
                                 a->type.c_str(), a->id.c_str(), a->optionType,
                                 a->option.c_str()))
      return soap_->error;
  }
  _ns1__ClientRequestResponse reply;
  const int status = soap_call___ns1__ClientRequest(soap_, endpoint, nullptr, &message, reply);
  if (status == SOAP_OK) response.ClientRequestResult = Take(reply.ClientRequestResult);
  return status;
}

}  // namespace zf
