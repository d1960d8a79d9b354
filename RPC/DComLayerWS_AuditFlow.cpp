#include "DComLayerWS.h"

// Audit flow queries.
// TODO(audit): implement; the stubs answer "query failed".

int CDComLayerWS::GetAuditFlow(void*, void*) { return 13; }
int CDComLayerWS::GetAuditFlowID(void*, int*) { return 13; }
int CDComLayerWS::GetAuditFlowItems(long, void*) { return 13; }
int CDComLayerWS::GetAuditorsInAuditFlow(void*, int, void*, void*) { return 13; }
