#include "DComLayerWS.h"

// Server notices.
// TODO(notices): implement; the stub answers "no notice".

int CDComLayerWS::ReadMessage(const char*, TavServerMessage*) { return -1; }
