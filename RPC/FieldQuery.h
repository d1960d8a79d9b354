#pragma once

#include "FieldResult.h"

class SoapCall;

// Field types of GetFieldValuesBySQL.
constexpr long kFieldText = 0;
constexpr long kFieldInt = 1;

// Runs one GetFieldValuesBySQL in the context of call and copies the answer
// into *result before the context can go. False when the exchange failed
// (connection, time-out, fault, malformed reply; *result is then empty) or
// the answer is too short to hold the row count and error code.
bool RunFieldQuery(SoapCall& call, const char* sql, const char* fieldName, long fieldType,
                   long fieldSize, FieldResult* result);
