// NC-SI select: which sideband port the BMC's NC-SI Ethernet controller
// uses.  The selection lives in the sideband configuration store; a change
// takes effect once the MAC is detached from its driver and re-attached and
// the network daemon has restarted.
#pragma once

#include "answer.hpp"
#include "seams.hpp"

#include <cstdint>

namespace kestrel
{

} // namespace kestrel

namespace kestrel::ncsi_select
{

/** The sideband configuration store, as libsidebandcfg answers. */
struct SidebandStore
{
    virtual ~SidebandStore() = default;
    /** The stored port in the low byte (0 when never stored), or a negative
     *  errno value. */
    virtual int port() = 0;
    /** 0 or a negative errno value. */
    virtual int setPort(uint8_t port) = 0;
};

/** The shell command lines that detach and re-attach the MAC and restart
 *  the network daemon. */
struct MacCommands
{
    const char* unbind;
    const char* bind;
    const char* restartNetworkd;
};

/** Request: the port.  The MAC is detached, the port stored, the MAC
 *  re-attached and the network daemon restarted, in that order, whatever
 *  each step's outcome; a failed store answers 0xFF. */
Answer setNcsiSelect(Request in, SidebandStore& store, Shell& shell,
                     const MacCommands& commands);

/** Response: the stored port.  The request bytes are ignored. */
Answer getNcsiSelect(Request in, SidebandStore& store);

} // namespace kestrel::ncsi_select
