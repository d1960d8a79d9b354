#pragma once

#include <memory>

class OrWSProxy;

// Ends and frees the runtime context of a proxy, with everything the runtime
// allocated in it (class instances, received strings and buffers), and the
// proxy.
struct SoapContextRelease {
    void operator()(OrWSProxy* proxy) const;
};

// A proxy on a runtime context of its own, which it owns.
using SoapContext = std::unique_ptr<OrWSProxy, SoapContextRelease>;

// A new runtime context with its proxy: the service's namespaces set, the
// endpoint the placeholder "http://localhost". Empty when none could be made.
SoapContext NewSoapContext();
