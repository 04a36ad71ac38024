// The account service as the client speaks to it: SOAP 1.1, document/literal.
// soapcpp2 turns this into the client's stubs and the local service's skeleton.

//gsoap ns1 schema namespace: http://services.zentrafold.com/
//gsoap ns1 schema form: qualified

//gsoap ns1 service name: ServiceSoap
//gsoap ns1 service type: ServiceSoap
//gsoap ns1 service style: document
//gsoap ns1 service encoding: literal
//gsoap ns1 service port: http://localhost/ZentrafoldSoap/Service.asmx
//gsoap ns1 service namespace: http://services.zentrafold.com/

class _ns1__StartSession
{
  public:
    struct soap *soap;
};

class _ns1__StartSessionResponse
{
  public:
    char *StartSessionResult 0;
    struct soap *soap;
};

class _ns1__ClientRequest
{
  public:
    char *strCipher 0;
    struct soap *soap;
};

class _ns1__ClientRequestResponse
{
  public:
    char *ClientRequestResult 0;
    struct soap *soap;
};

//gsoap ns1 service method-style: StartSession document
//gsoap ns1 service method-encoding: StartSession literal
//gsoap ns1 service method-action: StartSession http://services.zentrafold.com/StartSession
int __ns1__StartSession(_ns1__StartSession *ns1__StartSession,
                        _ns1__StartSessionResponse &ns1__StartSessionResponse);

//gsoap ns1 service method-style: ClientRequest document
//gsoap ns1 service method-encoding: ClientRequest literal
//gsoap ns1 service method-action: ClientRequest http://services.zentrafold.com/ClientRequest
int __ns1__ClientRequest(_ns1__ClientRequest *ns1__ClientRequest,
                         _ns1__ClientRequestResponse &ns1__ClientRequestResponse);
