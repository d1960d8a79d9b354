#include "FieldQuery.h"

#include "SoapCall.h"

bool RunFieldQuery(SoapCall& call, const char* sql, const char* fieldName, long fieldType,
                   long fieldSize, FieldResult* result)
{
    *result = FieldResult();
    ns__GetFieldValuesBySQLResponse answer{};
    const int status = call.proxy().GetFieldValuesBySQL(
        call.endpoint(), nullptr, const_cast<char*>(sql), const_cast<char*>(fieldName),
        static_cast<LONG64>(fieldType), static_cast<LONG64>(fieldSize), answer);
    if (status != SOAP_OK)
        return false;
    *result = FieldResult(answer.ret.__ptr, answer.ret.__size, fieldSize);
    return result->isUsable();
}
