// libkestrelipmi loaded into the host's registry as ipmid loads it, for
// tests that send it requests or look up what it exports.
#pragma once

#include "host.hpp"

#include <dlfcn.h>

#include <string>

namespace kestrel::test
{

/** Loads the build's provider directory; the library's handle, or null when
 *  it is not the one provider loaded. */
inline void* loadKestrelProvider()
{
    if (ipmi::host::loadProviders(KESTREL_PROVIDER_DIR).size() != 1)
    {
        return nullptr;
    }
    return ::dlopen(
        (std::string(KESTREL_PROVIDER_DIR) + "/libkestrelipmi.so").c_str(),
        RTLD_NOW | RTLD_NOLOAD);
}

} // namespace kestrel::test
