# Run on the generated serialisers (cmake -DSOURCE=<soapC.cpp> -P this file).
#
# Every array on the service's wire carries SOAP-ENC:arrayType with its
# element type and length, the empty ones too ("xsd:string[0]"): a strict
# server refuses or misreads an array without it. soapcpp2 writes the
# attribute only for an array that has an element block (__ptr not null),
# while the array helpers (SoapArrays.cpp) keep no block for an empty array.
# The type is therefore written whatever __ptr holds; the length comes from
# __size alone, so nothing else of the output changes.
if(NOT SOURCE)
    message(FATAL_ERROR "SoapArrayTypes.cmake: SOURCE not set")
endif()
file(READ "${SOURCE}" text)
foreach(type "xsd:string" "ns:Data")
    set(conditional "a->__ptr ? soap_putsizesoffsets(soap, \"${type}\", &a->__size, NULL, 1) : NULL")
    set(always "soap_putsizesoffsets(soap, \"${type}\", &a->__size, NULL, 1)")
    string(FIND "${text}" "${conditional}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "SoapArrayTypes.cmake: the serialiser of the ${type} array in "
            "${SOURCE} does not look as expected (another soapcpp2 version?)")
    endif()
    string(REPLACE "${conditional}" "${always}" text "${text}")
endforeach()
file(WRITE "${SOURCE}" "${text}")
