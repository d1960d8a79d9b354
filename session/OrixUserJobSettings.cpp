// Job settings loaded at logon: payers, document purposes and the audit
// settings of the user.

#include "OrixUser.h"

#include "DComLayerWS.h"
#include "PayerReply.h"
#include "TextUtil.h"

#include <QByteArray>
#include <QList>

#include <cjson/cJSON.h>
#include <cstdlib>
#include <cstring>

namespace
{

// Splits text at ';', keeping empty parts ("a;;b" is three parts, "" one).
QList<QByteArray> splitList(const char* text)
{
    return QByteArray(text).split(';');
}

} // namespace

int OrixUser::GetUserPayerInfo()
{
    FreePayers();
    PayerType = kPayerOwnAccount;
    IsSupportCostControl = false;
    IsSupportProject = false;

    // {"UserName":"<name>"}; the name is escaped as JSON text so that a quote
    // in it cannot change the request.
    char name[256];
    CopyUtf8Text(name, sizeof name, UserName);
    cJSON* request = cJSON_CreateObject();
    if (!request)
        return 2;
    cJSON_AddStringToObject(request, "UserName", name);
    char* requestText = cJSON_PrintUnformatted(request);
    cJSON_Delete(request);
    if (!requestText)
        return 2;

    char* reply = nullptr;
    const int queryResult = RpcClient->GetPayerInfo(requestText, reply);
    cJSON_free(requestText);
    if (queryResult != 0) {
        free(reply);
        return queryResult;
    }

    PayerReply parsed;
    const int result = ParsePayerReply(reply, &parsed);
    free(reply);
    IsSupportCostControl = parsed.IsSupportCostControl;
    IsSupportProject = parsed.IsSupportProject;
    PayerType = parsed.PayerType;
    Payers = parsed.Payers;
    PayerCount = parsed.PayerCount;
    return result;
}

int ParsePayerReply(const char* reply, PayerReply* out)
{
    cJSON* root = reply ? cJSON_Parse(reply) : nullptr;
    if (!root)
        return 2;

    int result = 0;
    const cJSON* costControl = cJSON_GetObjectItemCaseSensitive(root, "IsSupportCostControl");
    const cJSON* project = cJSON_GetObjectItemCaseSensitive(root, "IsSupportProject");
    const cJSON* payerType = cJSON_GetObjectItemCaseSensitive(root, "PayerType");
    const cJSON* payerInfo = cJSON_GetObjectItemCaseSensitive(root, "PayerInfo");

    if (payerInfo && !cJSON_IsArray(payerInfo)) {
        result = 2;
    } else if (payerInfo) {
        // One entry per element that the reply really holds.
        const int count = cJSON_GetArraySize(payerInfo);
        if (count > 0) {
            out->Payers =
                static_cast<TavPayer*>(calloc(static_cast<size_t>(count), sizeof(TavPayer)));
            if (!out->Payers) {
                cJSON_Delete(root);
                return 2;
            }
            out->PayerCount = count;
        }
        int index = 0;
        const cJSON* element = nullptr;
        cJSON_ArrayForEach(element, payerInfo)
        {
            if (index >= out->PayerCount)
                break;
            TavPayer& payer = out->Payers[index++];
            const cJSON* payerName = cJSON_GetObjectItemCaseSensitive(element, "PayerName");
            const cJSON* payerId = cJSON_GetObjectItemCaseSensitive(element, "PayerID");
            const cJSON* isGroup = cJSON_GetObjectItemCaseSensitive(element, "IsGroup");
            if (payerName && payerId && isGroup) {
                CopyGbkText(payer.PayerName, sizeof payer.PayerName,
                            cJSON_IsString(payerName) ? payerName->valuestring : nullptr);
                payer.PayerID = payerId->valueint;
                payer.IsGroup = isGroup->valueint;
            } else {
                result = 2;
            }
        }
    }

    if (project && costControl && payerType) {
        out->IsSupportCostControl = costControl->valueint != 0;
        out->IsSupportProject = project->valueint != 0;
        out->PayerType = payerType->valueint;
    } else {
        result = 2;
    }

    cJSON_Delete(root);
    return result;
}

void OrixUser::GetDocPurpose()
{
    // A new logon replaces the purposes of the previous one.
    AuditFlow.Purposes.clear();
    for (const QByteArray& part : splitList(Config.PurposeList)) {
        TavPurpose purpose;
        memset(&purpose, 0, sizeof purpose);
        CopyUtf8Text(purpose.Name, sizeof purpose.Name, part.constData());
        AuditFlow.Purposes.append(purpose);
    }
}

void OrixUser::GetAuditInfo()
{
    RpcClient->GetAuditFlow(&AuditFlow, static_cast<TavUserRecord*>(this));
    if (AuditFlow.FlowID < 0)
        GetAuditByIni();
}

void OrixUser::GetAuditByIni()
{
    for (const QByteArray& part : splitList(Config.SecretLevelList)) {
        TavSecret secret;
        memset(&secret, 0, sizeof secret);
        CopyUtf8Text(secret.SecretLevelName, sizeof secret.SecretLevelName, part.constData());
        secret.AuditLevel = 0;
        AuditFlow.Secrets.append(secret);
    }
}
