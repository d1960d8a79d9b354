#pragma once

#include <QList>
#include <cstdint>

// In-memory audit model of the logged-on user: the secret levels of his
// audit flow, each with its approval levels and their auditors, and the
// document purposes offered with a job.

struct TavAuditor {
    int32_t AuditorID;    // the auditor's user number
    char AuditorName[64]; // full name, UTF-8
};

// The auditors of one approval level. Entries is a calloc'ed block of Count
// entries owned by the TavSecret that holds the array.
struct TavAuditorArray {
    int32_t Count;
    TavAuditor* Entries;
};

// One secret level of the flow. The first seven fields are also the layout
// of one flow item as GetAuditFlowItems returns it.
struct TavSecret {
    int32_t FlowItemID;
    int32_t FlowID;
    int32_t DocLevelID;
    int32_t AuditLevel;       // number of approval levels
    int32_t SecretLevel;      // the level's number
    char SecretLevelName[50]; // UTF-8
    char SecretLevelNote[50]; // as received (GB18030)
    // calloc'ed array of AuditLevel auditor lists, level 1 first, or null.
    TavAuditorArray* Auditors;
};

// One flow item as loaded by GetAuditFlowItems (the head of TavSecret).
struct TavAuditFlowItem {
    int32_t FlowItemID;
    int32_t FlowID;
    int32_t DocLevelID;
    int32_t AuditLevel;
    int32_t SecretLevel;
    char SecretLevelName[50];
    char SecretLevelNote[50];
};

// Item list filled by GetAuditFlowItems: Count items in a heap array that
// the caller frees with free().
struct TavAuditFlowItemList {
    int32_t Count;
    TavAuditFlowItem* Items;
};

struct TavPurpose {
    char Name[256]; // the purpose text, UTF-8
    char Reserved;  // 0 when the entry is created
};

class TavAuditFlow
{
public:
    TavAuditFlow() = default;
    ~TavAuditFlow();
    TavAuditFlow(const TavAuditFlow&) = delete;
    TavAuditFlow& operator=(const TavAuditFlow&) = delete;

    // Empties Secrets, freeing every auditor array and entry block, and sets
    // FlowID to 0. MaxAuditLevels and Purposes are left as they are.
    void Release();

    int32_t FlowID = 0;         // 0 none loaded, -1 the server has no flow for the user
    int32_t MaxAuditLevels = 0; // largest AuditLevel among Secrets
    QList<TavSecret> Secrets;
    QList<TavPurpose> Purposes;
};

// Frees the auditor arrays a TavSecret owns and sets Auditors to null.
void FreeSecretAuditors(TavSecret& secret);
