#pragma once

// An RPC client for the session tests that answers the logon, the payer
// query and the audit-flow query itself (they are the virtual operations of
// the client interface) and remembers what the session handed it.

#include "DComLayerWS.h"
#include "TavAuditFlow.h"
#include "TavUserRecord.h"

#include <QByteArray>
#include <QStringList>

#include <cstdlib>
#include <cstring>

class FakeRpcClient : public CDComLayerWS
{
public:
    // LogOn
    int logOnResult = 2;
    int logOnCalls = 0;
    TavUserRecord logOnRecord{};
    QByteArray portAtLogOn;

    // GetPayerInfo: replyIsNull sends no text at all.
    int payerResult = 0;
    QByteArray payerReply;
    bool payerReplyIsNull = false;
    QByteArray payerRequest;

    // GetAuditFlow: the flow id the "server" reports; -1 means none.
    int flowId = 0;
    int auditFlowCalls = 0;

    int LogOn(void* record) override
    {
        ++logOnCalls;
        memcpy(&logOnRecord, record, sizeof logOnRecord);
        portAtLogOn = Port();
        return logOnResult;
    }

    int GetPayerInfo(char* item, char*& reply) override
    {
        payerRequest = item;
        if (!payerReplyIsNull)
            reply = strdup(payerReply.constData());
        return payerResult;
    }

    int GetAuditFlow(void* auditFlow, void*) override
    {
        ++auditFlowCalls;
        TavAuditFlow* flow = static_cast<TavAuditFlow*>(auditFlow);
        flow->Release();
        flow->FlowID = flowId;
        return flowId < 0 ? 13 : 0;
    }
};
