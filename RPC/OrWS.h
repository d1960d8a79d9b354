// Service contract of the central server's SOAP service, as the client uses
// it: SOAP 1.1, RPC style with SOAP encoding, namespace "urn:OrWS". soapcpp2
// generates the serialisers, the client proxy and the service skeleton (for
// the development server) from this file at build time.
//
// Parameter names are the element names on the wire and their order is the
// order of the request's children. Only the operations the client calls are
// declared.

//gsoap ns service name:      OrWS
//gsoap ns service namespace: urn:OrWS
//gsoap ns service style:     rpc
//gsoap ns service encoding:  encoded
//gsoap ns schema namespace:  urn:OrWS

// A byte buffer: base64Binary inline, or a DIME attachment when id or type
// is set. Every buffer the client sends has type "" and __ptr naming a file
// whose bytes the runtime streams through the read callbacks.
struct ns__Data {
    unsigned char* __ptr;
    int __size;
    char* id;
    char* type;
    char* options;
};

// SOAP-encoded array of buffers ("ns:Data[n]", elements named "item"). The
// arrayType goes out for an empty array as well ("ns:Data[0]"; the build
// adjusts the generated serialiser, see SoapArrayTypes.cmake).
class arrayOfData {
public:
    struct ns__Data* __ptr;
    int __size;
    struct soap* soap;
    arrayOfData();
    arrayOfData(struct soap*, int);
    virtual ~arrayOfData();
    void resize(int);
    struct ns__Data& operator[](int) const;
    int size() const;
};

// SOAP-encoded array of strings ("xsd:string[n]", elements named "item"),
// "xsd:string[0]" when empty.
class arrayOfName {
public:
    char** __ptr;
    int __size;
    struct soap* soap;
    arrayOfName();
    arrayOfName(struct soap*, int);
    virtual ~arrayOfName();
    void resize(int);
    char*& operator[](int) const;
    int size() const;
};

class ns__classSavePrintJobByBlock {
public:
    char* SplFileNameOut;
};

struct ns__structSavePrintJobByBlock {
    ns__classSavePrintJobByBlock* return_;
};

class ns__classSpecialAuditOfUser {
public:
    LONG64 pSpecialAudit;
    LONG64 pRet;
};

struct ns__structGetSpecialAuditOfUser {
    ns__classSpecialAuditOfUser* return_;
};

// Response wrappers of the operations whose result is a structured value.
struct ns__GetUserInfoResponse { struct ns__Data image; };
struct ns__GetUserInfoExResponse { struct ns__Data image; };
struct ns__GetPrinterListResponse { struct ns__Data data; };
struct ns__GetUserMessageResponse { struct ns__Data data; };
struct ns__GetFieldValuesBySQLResponse { struct ns__Data ret; };
struct ns__SavePrintJobExResponse { arrayOfName names; };
struct ns__SaveMobilePrintJobResponse { arrayOfName names; };

int ns__UserLogon(char* UserName, char* PassWord, LONG64 UserType, LONG64* LogResult);

int ns__GetUserInfo(char* UserName, struct ns__GetUserInfoResponse& result);

int ns__GetUserInfoEx(char* UserName, struct ns__GetUserInfoExResponse& result);

int ns__GetPrinterList(char* UserName, struct ns__GetPrinterListResponse& result);

int ns__GetSecretLevel(char* UserName, LONG64* SercretLevel);

int ns__GetUserMessage(char* UserName, struct ns__GetUserMessageResponse& result);

int ns__ExcuteSQL(char* strSQL, int* Result);

int ns__GetSpecialAuditOfUser(char* lpUserName, struct ns__structGetSpecialAuditOfUser& result);

int ns__GetFieldValuesBySQL(char* pSQL, char* pFieldName, LONG64 FieldType, LONG64 FieldSize,
                            struct ns__GetFieldValuesBySQLResponse& result);

int ns__GetPayerInfo(char* pItem, char** pPayerParam);

int ns__QuotaVerification(char* pJsonJobParam, LONG64* pRet);

int ns__SavePrintJobEx(arrayOfData* data, struct ns__SavePrintJobExResponse& result);

int ns__SavePrintJobByBlockForLinuxClient(arrayOfData* data, LONG64 BlockType, char* SplFileNameIn,
                                          struct ns__structSavePrintJobByBlock& result);

int ns__SaveMobilePrintJob(arrayOfData* data, char* PrintFileName,
                           struct ns__SaveMobilePrintJobResponse& result);

int ns__SaveMobilePrintJobByBlock(char* PrintFileName, arrayOfData* data, LONG64 BlockType,
                                  char* SplFileNameIn, struct ns__structSavePrintJobByBlock& result);

int ns__SaveCDRecordJobByBlock(char* PrintFileName, arrayOfData* data, LONG64 BlockType,
                               char* SplFileNameIn, struct ns__structSavePrintJobByBlock& result);

int ns__SaveCopyJobSQL(arrayOfData* CopyInfo, arrayOfName* names, char** TaskIds);
