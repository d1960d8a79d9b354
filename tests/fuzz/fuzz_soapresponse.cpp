// Whatever a server may answer, through the SOAP runtime into the client's
// operations: HTTP framing (chunked or not), XML, base64 buffers, DIME
// records and their attachments. The first byte chooses the operation; the
// rest is the reply to every exchange it makes.
#include "FuzzTransport.h"
#include "RpcResults.h"
#include "TavAuditFlow.h"
#include "TavQuotaRequest.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <functional>

namespace
{

char user[] = "alice";
char text[1024];
int number;
TavUserRecord record;

// An upload's context, whose DIME write callbacks save attachments.
void upload(CDComLayerWS& client, bool attachments)
{
    SoapCall call(client.NewCallContext(), true);
    if (!attachments) {
        LONG64 level = 0;
        call.proxy().GetSecretLevel(call.endpoint(), nullptr, user, &level);
        return;
    }
    arrayOfData data(call.soap(), 0);
    ns__SavePrintJobExResponse answer;
    call.proxy().SavePrintJobEx(call.endpoint(), nullptr, &data, answer);
}

const std::function<void(CDComLayerWS&)> operations[] = {
    [](CDComLayerWS& c) { c.LogOn(&record); },
    [](CDComLayerWS& c) { c.GetUserInfo(user, &record); },
    [](CDComLayerWS& c) { c.GetUserInfoEx(user, &record); },
    [](CDComLayerWS& c) { c.GetGroupIDFromUsersByUserName(user, &number); },
    [](CDComLayerWS& c) { c.GetGroupNameFromGroupByGroupID(3, text); },
    [](CDComLayerWS& c) { c.GetSettingValueBySettingName(user, text, user); },
    [](CDComLayerWS& c) { c.GetWebsiteIP(text, user); },
    [](CDComLayerWS& c) { c.GetSecretLevel(user); },
    [](CDComLayerWS& c) {
        char* payer = nullptr;
        c.GetPayerInfo(user, payer);
        free(payer);
    },
    [](CDComLayerWS& c) {
        TavServerMessage message;
        c.ReadMessage(user, &message);
    },
    [](CDComLayerWS& c) {
        TavQuotaRequest quota{};
        c.QuotaVerification(reinterpret_cast<char*>(&quota));
    },
    [](CDComLayerWS& c) { c.ExecSQL(user); },
    [](CDComLayerWS& c) {
        TavAuditFlow flow;
        c.GetAuditFlow(&flow, &record);
    },
    [](CDComLayerWS& c) { c.GetSpecialAudit(user, &number); },
    [](CDComLayerWS& c) { c.GetPrintWayFromUsersByUserName(user, &number); },
    [](CDComLayerWS& c) { upload(c, false); },
    [](CDComLayerWS& c) { upload(c, true); },
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CDComLayerWS client;
    // The home folder, whose attachments folder takes what the replies carry; emptied after
    // every input.
    static QTemporaryDir work;
    static const bool ready = (FuzzTransport::Init(client), QDir::setCurrent(work.path()),
                               qputenv("HOME", QFile::encodeName(work.path())));
    (void)ready;
    if (size < 1)
        return 0;
    FuzzTransport::Serve(data + 1, size - 1);
    record = TavUserRecord{};
    record.UserId = 7;
    record.SecretLevel = 3;
    strcpy(record.ServerAddress, "127.0.0.1");
    try {
        operations[data[0] % 17](client);
    } catch (const RpcFailure&) {
        // The client's exceptions are part of its contract; its callers catch them.
    }
    QDir folder(QString::fromStdString(SoapDime::AttachmentFolder()));
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        folder.remove(name);
    return 0;
}
