#pragma once

#include <exception>

// What the RPC client (TavRpcClientBase, CDComLayerWS) answers, each value
// under one name. Its operations return int: kOk, a code of the server
// passed through unchanged (a refusal of the logon, the error code of a
// query: positive), the runtime's error code where an operation says so, or
// one of the values below. Callers and the server rely on every number.
//
// The value queries (GetSecretLevel, ExecSQL, UpdateProjectIDOfPrintProcTask,
// QuotaVerification) return what the server answered instead, and 0 when
// nothing came back.
namespace RpcResult
{

constexpr int kOk = 0;
// Nothing done or nothing to report: the interface's own answer to an
// operation its implementation does not override; ReadMessage: no notice.
constexpr int kNone = -1;
// ReadMessage: no runtime context, or the call failed. The main window takes
// the server for lost.
constexpr int kUnreachable = -2;
// LogOn: no runtime context could be made. (Its other results below 0 are
// the runtime's error codes negated: the server was not reached.)
constexpr int kLogonNoContext = -20;
// A block of memory could not be allocated.
constexpr int kOutOfMemory = 11;
// A file could not be opened, read or made: returned by the copy and disc
// uploads, thrown (RpcFailure) by the print and mobile uploads.
constexpr int kFileError = 12;
// An audit flow query failed or returned nothing.
constexpr int kAuditQueryFailed = 13;
// A server query failed or returned nothing.
constexpr int kQueryFailed = 15;
// No runtime context could be made.
constexpr int kNoContext = 20;

// Carried by RpcFailure: a failed exchange (no runtime context, no answer, a
// refused block, a first block answered without a stored name).
constexpr long kExchangeFailed = 0x80000000L;
// Carried by RpcFailure: the record file (2) or the data file (3) of a
// mobile upload's block could not be written.
constexpr long kBlockRecordFileError = 2;
constexpr long kBlockDataFileError = 3;

} // namespace RpcResult

// The one exception of the RPC layer, thrown where a result cannot be
// returned: by GetUserInfo, GetUserInfoEx, GetPrinterList and GetWebsiteIP
// when the server cannot be reached, and by the print and mobile uploads
// (ErrorDescription). code() is RpcResult::kExchangeFailed, kFileError,
// kBlockRecordFileError or kBlockDataFileError, or the negative code of a
// document that could not be sized. Every one of them means the operation
// did not reach its end with the server.
class RpcFailure : public std::exception
{
public:
    explicit RpcFailure(long code) noexcept : m_code(code) {}
    long code() const noexcept { return m_code; }
    const char* what() const noexcept override { return "the server operation failed"; }

private:
    long m_code;
};
