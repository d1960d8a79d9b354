// Whatever a server may answer, through the SOAP runtime into the client's
// operations: HTTP framing (chunked or not), XML, base64 buffers, DIME
// records and their attachments. The first byte chooses the operation; the
// rest is the reply to every exchange it makes.
#include "FuzzTransport.h"
#include "TavAuditFlow.h"
#include "TavQuotaRequest.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace
{

// Attachments are saved into the working folder: a private one, emptied
// after every input.
void emptyWorkFolder()
{
    QDir work(QDir::currentPath());
    for (const QString& name : work.entryList(QDir::Files | QDir::Hidden | QDir::System))
        work.remove(name);
}

void run(CDComLayerWS& client, int op)
{
    char user[] = "alice";
    char text[1024] = "";
    int number = 0;
    TavUserRecord record{};
    record.UserId = 7;
    record.SecretLevel = 3;
    switch (op) {
    case 0:
        strcpy(record.ServerAddress, "127.0.0.1");
        client.LogOn(&record);
        break;
    case 1:
        client.GetUserInfo(user, &record);
        break;
    case 2:
        client.GetUserInfoEx(user, &record);
        break;
    case 3:
        client.GetGroupIDFromUsersByUserName(user, &number);
        break;
    case 4:
        client.GetGroupNameFromGroupByGroupID(3, text);
        break;
    case 5:
        client.GetSettingValueBySettingName(user, text, user);
        break;
    case 6:
        client.GetWebsiteIP(text, user);
        break;
    case 7:
        client.GetSecretLevel(user);
        break;
    case 8: {
        char* payer = nullptr;
        client.GetPayerInfo(user, payer);
        free(payer);
        break;
    }
    case 9: {
        TavServerMessage message;
        client.ReadMessage(user, &message);
        break;
    }
    case 10: {
        TavQuotaRequest quota{};
        client.QuotaVerification(reinterpret_cast<char*>(&quota));
        break;
    }
    case 11:
        client.ExecSQL(user);
        break;
    case 12: {
        TavAuditFlow flow;
        client.GetAuditFlow(&flow, &record);
        break;
    }
    case 13:
        client.GetSpecialAudit(user, &number);
        break;
    case 14:
        client.GetPrintWayFromUsersByUserName(user, &number);
        break;
    default: {
        // An upload's context: the DIME write callbacks save attachments.
        SoapCall call(client, true);
        if (op == 15) {
            LONG64 level = 0;
            call.proxy().GetSecretLevel(call.endpoint(), nullptr, user, &level);
        } else {
            arrayOfData data(call.soap(), 0);
            ns__SavePrintJobExResponse answer;
            call.proxy().SavePrintJobEx(call.endpoint(), nullptr, &data, answer);
        }
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CDComLayerWS client;
    static QTemporaryDir work;
    static const bool ready = (FuzzTransport::Init(client), QDir::setCurrent(work.path()));
    (void)ready;
    if (size < 1)
        return 0;
    FuzzTransport::Serve(data + 1, size - 1);
    try {
        run(client, data[0] % 17);
    } catch (...) {
        // The client's exceptions are part of its contract; its callers catch them.
    }
    emptyWorkFolder();
    return 0;
}
