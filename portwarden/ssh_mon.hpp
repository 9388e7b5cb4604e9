// portwarden's bus side: it follows the network service's Ethernet
// interfaces as they are added, pushes each one's stored SSH setting into
// the `SSH` property, and from then on turns every change of `SSH` into the
// packet filter rule and the stored setting.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>
#include <memory>
#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/bus/match.hpp>
#include <sdbusplus/message.hpp>
#include <string>
#include <vector>

namespace portwarden
{

/** Watches `SSH` of one interface for as long as it lives. */
class SshMon
{
  public:
    /** Registers the PropertiesChanged match at once; throws what the
     *  registration throws. */
    SshMon(const std::string& name,
           std::shared_ptr<sdbusplus::asio::connection> conn);

    const std::string& interfaceName() const
    {
        return name;
    }

  private:
    std::string name;
    std::shared_ptr<sdbusplus::asio::connection> conn;
    sdbusplus::bus::match_t match;
};

/** The watched interfaces, one monitor each; they live as long as the
 *  process. */
using Monitors = std::vector<std::unique_ptr<SshMon>>;

/** Makes the packet filter and the store follow `allowed` for `name`, a
 *  key of sshDefaults.  A filter command or a store write that fails is
 *  reported on standard error. */
void applySshControl(const std::string& name, bool allowed);

/** InterfacesAdded: for an Ethernet interface, handleNewInterface runs one
 *  second later.  A body that cannot be read is reported and dropped. */
void onInterfacesAdded(sdbusplus::message_t& msg, boost::asio::io_context& io,
                       const std::shared_ptr<sdbusplus::asio::connection>& conn,
                       Monitors& monitors);

/** Reads the interface's name, applies and stores its stored setting (or
 *  the default), writes it into `SSH` and watches the interface, unless it
 *  is already watched.  Every failure is reported on standard error; the
 *  interface is then left unwatched. */
void handleNewInterface(
    const boost::system::error_code& ec, const std::string& path,
    const std::shared_ptr<sdbusplus::asio::connection>& conn,
    Monitors& monitors);

} // namespace portwarden
