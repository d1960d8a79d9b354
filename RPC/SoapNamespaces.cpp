// The namespace table of the OrWS service (SOAP-ENV, SOAP-ENC, xsi, xsd, ns,
// in that order). The runtime refers to the global "namespaces"; this is the
// one translation unit that defines it.
#include "soapH.h"

#include "OrWS.nsmap"
