#include "DevDiscard.h"

#include "stdsoap2.h"

#include <cstdio>

namespace
{

// The runtime's own header parser, which every header still goes through.
int (*g_parseHeader)(struct soap*, const char*, const char*) = nullptr;

int discardBody(struct soap* soap)
{
    // Content-Length is required (411 without one): the body is read by its
    // length, straight from the connection, in pieces of the runtime's
    // buffer, and never held.
    const ULONG64 length = soap->length;
    if (length == 0)
        return soap_send_empty_response(soap, 411);
    ULONG64 received = soap->buflen - soap->bufidx;
    soap->bufidx = soap->buflen;
    while (received < length) {
        const size_t n = soap->frecv(soap, soap->buf, sizeof soap->buf);
        if (n == 0)
            return soap->error = SOAP_EOF;
        received += n;
    }
    char text[64];
    const int size = snprintf(text, sizeof text, "discarded %llu bytes\n",
                              static_cast<unsigned long long>(received));
    soap->http_content = "text/plain";
    if (soap_response(soap, SOAP_FILE) || soap_send_raw(soap, text, static_cast<size_t>(size)) ||
        soap_end_send(soap))
        return soap->error;
    return SOAP_OK;
}

int parseHeader(struct soap* soap, const char* key, const char* value)
{
    if (!soap_tag_cmp(key, "Content-Type")) {
        soap->fform = nullptr;
        if (!soap_tag_cmp(value, "application/octet-stream")) {
            soap->fform = discardBody;
            return soap->error = SOAP_FORM;
        }
    }
    return g_parseHeader(soap, key, value);
}

} // namespace

void InstallDiscardSink(struct soap* soap)
{
    g_parseHeader = soap->fparsehdr;
    soap->fparsehdr = parseHeader;
}
