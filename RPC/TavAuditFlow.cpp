#include "TavAuditFlow.h"

#include <cstdlib>

void FreeSecretAuditors(TavSecret& secret)
{
    if (!secret.Auditors)
        return;
    const int levels = secret.AuditLevel > 0 ? secret.AuditLevel : 0;
    for (int i = 0; i < levels; ++i)
        free(secret.Auditors[i].Entries);
    free(secret.Auditors);
    secret.Auditors = nullptr;
}

void TavAuditFlow::Release()
{
    for (TavSecret& secret : Secrets)
        FreeSecretAuditors(secret);
    Secrets.clear();
    FlowID = 0;
}

TavAuditFlow::~TavAuditFlow()
{
    Release();
}
