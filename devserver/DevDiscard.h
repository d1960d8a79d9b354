#pragma once

struct soap;

// A plain HTTP POST with the content type "application/octet-stream" (to any
// path) is read to its end and thrown away; the answer is a short text with
// the number of bytes received. The upload benchmark posts a document this
// way as its reference for what the loopback connection and the server's
// receiving carry. SOAP requests are served as before.
void InstallDiscardSink(struct soap* soap);
