// Set network interface: network maintenance on request of the host or an
// operator: restart the network daemon, factory-reset the network
// configuration, or delete every entry of one Ethernet interface.
#pragma once

#include "answer.hpp"
#include "seams.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel::network_interface
{

/** The network service's maintenance methods.  The board's implementation
 *  waits for each reply and lets a failure escape as an exception. */
struct NetworkService
{
    virtual ~NetworkService() = default;
    /** FactoryReset.Reset on the network object. */
    virtual void factoryReset() = 0;
    /** DeleteAll.DeleteAll on an Ethernet interface's object. */
    virtual void deleteAll(const std::string& interfacePath) = 0;
};

/** The object of the delete action's interface selector: 0x01 is eth1,
 *  0x02 eth0; nothing for another selector. */
std::optional<std::string> deleteAllObject(uint8_t selector);

/** Request: action (0x00 restart the network daemon, 0x01 factory reset,
 *  0x02 delete all), and for 0x02 the interface selector.  An unknown
 *  action or selector answers 0xC1. */
Answer setNetworkIntf(Request in, Units& units, NetworkService& network);

} // namespace kestrel::network_interface
