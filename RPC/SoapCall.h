#pragma once

#include "SoapContext.h"
#include "soapOrWSProxy.h"

#include <cstddef>
#include <string>

// The runtime context of one server operation. Every operation of the RPC
// client makes one on the stack from a context it has prepared for its
// server, makes its call through proxy() with endpoint() and a null action,
// copies what it needs out of the context and lets the destructor release
// everything the runtime allocated (received strings, buffers, class
// instances).
//
//     SoapCall call(NewCallContext());
//     if (!call.ok())
//         return RpcResult::kNoContext;
//     char* answer = nullptr;
//     if (call.proxy().GetPayerInfo(call.endpoint(), nullptr, item, &answer) != SOAP_OK)
//         return RpcResult::kQueryFailed;
//
// Values that live in the context (arrayOfData / arrayOfName made with
// call.soap(), received strings) must not outlive the SoapCall: declare the
// SoapCall before them.
class SoapCall
{
public:
    // prepared: a context made by NewSoapContext and prepared for the
    // server (its settings, its endpoint), which the call takes over; empty
    // when none could be made. upload: connect time-out of 10 s instead of
    // 30 s and the DIME write callbacks installed beside the read callbacks.
    explicit SoapCall(SoapContext prepared, bool upload = false);
    ~SoapCall();

    SoapCall(const SoapCall&) = delete;
    SoapCall& operator=(const SoapCall&) = delete;

    // False when no runtime context could be made; the operation then fails
    // with its own result for that case and must not touch proxy()/soap().
    bool ok() const { return m_context != nullptr; }
    OrWSProxy& proxy();
    struct soap* soap() const { return m_context ? m_context->soap : nullptr; }
    // The endpoint the context was prepared with ("http://host:port" or
    // "https://host:port"), as this call's copy; empty without a context.
    const char* endpoint() const;

    // Called with every new context once it is prepared, before any call is
    // made on it; none by default. The fuzzers put their own transport
    // (soap->fopen, fsend, frecv, fclose) under the client's operations with
    // it. Set it before the first SoapCall of the process.
    using ContextHook = void (*)(struct soap*);
    static void SetContextHook(ContextHook hook);

private:
    SoapContext m_context;
    bool m_sigpipeBlocked = false;
    bool m_sigpipeWasPending = false;
};

// The DIME attachment callbacks. An outgoing ns__Data with type set carries
// the path of a local file in __ptr; the read callbacks stream that file.
// The write callbacks save incoming attachments under the name their options
// carry, in the user's own folder (AttachmentFolder(), owner-only), each as a
// new file: never over an existing one (a name already taken there gets a
// number in front, "1-name", "2-name", ...), never through a link, at most
// kMaxSavedAttachment bytes (a larger one fails the call and is removed).
// A call keeps at most kMaxSavedPerCall of them, kMaxSavedBytesPerCall bytes
// in all: one more fails the call. Nothing in the client reads them, so they
// are removed when the call's context is released, whatever its outcome, and
// whatever a crashed run left behind goes at the next start
// (RemoveLeftovers).
// Exposed for the preparation of a context and the tests.
namespace SoapDime
{
constexpr size_t kMaxSavedAttachment = 16u << 20;
constexpr size_t kMaxSavedPerCall = 8;
constexpr size_t kMaxSavedBytesPerCall = 32u << 20;

// "$HOME/.local/share/OrixClient/attachments"; empty without HOME.
std::string AttachmentFolder();

void* ReadOpen(struct soap* soap, void* handle, const char* id, const char* type,
               const char* options);
size_t Read(struct soap* soap, void* handle, char* buf, size_t len);
void ReadClose(struct soap* soap, void* handle);
void* WriteOpen(struct soap* soap, const char* id, const char* type, const char* options);

// The parts of WriteOpen. The name of a file to save an attachment to, from
// the first element of its options (length bytes at options). False when
// the options are malformed (shorter than their element, no name) or the
// name is not one the server is expected to send: only letters, digits,
// '-', '_' and '.', 1 to 255 bytes, no leading dot, and never a library or
// settings file (".so" or ".ini" among its dot-separated parts) or another
// file the program keeps (the event log, its settings).
bool AttachmentName(const char* options, size_t length, std::string* name);
// Length of the options the runtime has just handed to WriteOpen, from the
// record header in its receive buffer; 0 when it cannot be established.
size_t ReceivedOptionsLength(const struct soap* soap, const char* options);
int Write(struct soap* soap, void* handle, const char* buf, size_t len);
void WriteClose(struct soap* soap, void* handle);
// Removes the attachments the call on soap saved (done as its context is
// released).
void RemoveSaved(struct soap* soap);
// Removes every plain file of AttachmentFolder(): what an earlier run left.
// Once per process; later calls do nothing.
void RemoveLeftovers();
} // namespace SoapDime
