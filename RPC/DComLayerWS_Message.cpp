#include "DComLayerWS.h"

#include "LanguageManager.h"
#include "ServerNotice.h"
#include "SoapCall.h"

// Server notices: one notice per poll, decoded into a headline.

int CDComLayerWS::ReadMessage(const char* userName, TavServerMessage* out)
{
    SoapCall call(NewCallContext());
    if (!call.ok())
        return RpcResult::kUnreachable;
    ns__GetUserMessageResponse answer{};
    if (call.proxy().GetUserMessage(call.endpoint(), nullptr, const_cast<char*>(userName),
                                    answer) != SOAP_OK)
        return RpcResult::kUnreachable;
    // Decoded (and so copied) while the reply still lives in the context.
    const LanguageManager texts;
    return ServerNotice::Decode(answer.data.__ptr, answer.data.__size, texts, out);
}
