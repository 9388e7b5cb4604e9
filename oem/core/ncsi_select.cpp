#include "ncsi_select.hpp"

namespace kestrel::ncsi_select
{

Answer setNcsiSelect(Request in, SidebandStore& store, Shell& shell,
                     const MacCommands& commands)
{
    if (in.size() < 1)
    {
        return failure(ipmi::ccReqDataLenInvalid);
    }
    // The commands' statuses are of no use: unbinding a MAC that is already
    // unbound fails harmlessly, and the remaining steps must run whatever
    // happened.  The MAC is re-attached and the daemon restarted even when
    // the store fails, so that the network comes back on the old selection.
    shell.run(commands.unbind);
    int stored = store.setPort(in[0]);
    shell.run(commands.bind);
    shell.run(commands.restartNetworkd);
    return stored < 0 ? failure(ipmi::ccUnspecifiedError) : success();
}

Answer getNcsiSelect(Request, SidebandStore& store)
{
    int port = store.port();
    if (port < 0)
    {
        // An unreadable store has no port to report.
        return failure(ipmi::ccUnspecifiedError);
    }
    return success({static_cast<uint8_t>(port & 0xFF)});
}

} // namespace kestrel::ncsi_select
