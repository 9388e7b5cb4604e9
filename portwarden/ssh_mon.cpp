#include "ssh_mon.hpp"

#include "ssh_control.hpp"

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <boost/asio/steady_timer.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <variant>

#include "keyshelf.h"

namespace portwarden
{

namespace
{

// The network service announces an interface before it has finished
// setting it up; its properties are read a moment later.
constexpr std::chrono::seconds settleTime{1};

// Runs the command through the shell and collects what it prints on both
// streams: iptables explains itself there, and says so even when a check
// or delete merely finds no rule, which is not worth passing on.
CommandResult runShell(const std::string& command)
{
    CommandResult result{-1, {}};
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
    {
        result.output = std::strerror(errno);
        return result;
    }
    std::array<char, 256> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    {
        result.output.append(buffer.data(), n);
    }
    int status = ::pclose(pipe);
    if (status != -1 && WIFEXITED(status))
    {
        result.status = WEXITSTATUS(status);
    }
    // One line, as every message of the daemon is.
    while (!result.output.empty() && result.output.back() == '\n')
    {
        result.output.pop_back();
    }
    std::replace(result.output.begin(), result.output.end(), '\n', ' ');
    return result;
}

void onSshChanged(const std::string& name, sdbusplus::message_t& msg)
{
    // The whole body is read and checked before anything is applied, so a
    // malformed signal changes nothing.
    try
    {
        std::string interface;
        ChangedProperties changed;
        msg.read(interface, changed);
        for (bool allowed : sshValues(changed))
        {
            applySshControl(name, allowed);
        }
    }
    catch (const std::exception& e)
    {
        std::cerr << "Failed to handle SSH change of " << name << ": "
                  << e.what() << std::endl;
    }
}

std::string readInterfaceName(sdbusplus::asio::connection& conn,
                              const std::string& path)
{
    auto get = conn.new_method_call(networkService, path.c_str(),
                                    propertiesInterface, "Get");
    get.append(ethernetInterface, interfaceNameProperty);
    auto reply = conn.call(get);
    std::variant<std::monostate, std::string> value;
    reply.read(value);
    const std::string* name = std::get_if<std::string>(&value);
    if (name == nullptr)
    {
        throw std::invalid_argument("InterfaceName is not a string");
    }
    return *name;
}

void pushSsh(sdbusplus::asio::connection& conn, const std::string& path,
             bool allowed)
{
    auto set = conn.new_method_call(networkService, path.c_str(),
                                    propertiesInterface, "Set");
    set.append(ethernetInterface, sshProperty, std::variant<bool>(allowed));
    conn.call_noreply(set);
}

} // namespace

SshMon::SshMon(const std::string& name,
               std::shared_ptr<sdbusplus::asio::connection> conn) :
    name(name),
    conn(std::move(conn)),
    match(*this->conn, sshMonRule(name),
          [name](sdbusplus::message_t& msg) { onSshChanged(name, msg); })
{
}

void applySshControl(const std::string& name, bool allowed)
{
    if (auto failure = enforceSshRule(name, allowed, runShell))
    {
        std::cerr << "SSH control of " << name << " not enforced: \""
                  << failure->command << "\" exited with status "
                  << failure->status << ": " << failure->output << std::endl;
    }
    if (int r = set_ini_long(sshSection, name.c_str(), allowed ? 1 : 0); r < 0)
    {
        std::cerr << "SSH control of " << name
                  << " not stored: " << std::strerror(-r) << std::endl;
    }
}

void onInterfacesAdded(sdbusplus::message_t& msg, boost::asio::io_context& io,
                       const std::shared_ptr<sdbusplus::asio::connection>& conn,
                       Monitors& monitors)
{
    sdbusplus::message::object_path path;
    InterfaceMap interfaces;
    try
    {
        msg.read(path, interfaces);
    }
    catch (const std::exception& e)
    {
        std::cerr << "Failed to read InterfacesAdded: " << e.what()
                  << std::endl;
        return;
    }
    if (!addsEthernetInterface(interfaces))
    {
        return;
    }
    // The pending wait owns the timer; it goes when the handler has run.
    // `monitors` belongs to main and outlives the event loop.
    auto timer = std::make_shared<boost::asio::steady_timer>(io, settleTime);
    timer->async_wait([timer, path = path.str, conn,
                       &monitors](const boost::system::error_code& ec) {
        handleNewInterface(ec, path, conn, monitors);
    });
}

void handleNewInterface(
    const boost::system::error_code& ec, const std::string& path,
    const std::shared_ptr<sdbusplus::asio::connection>& conn,
    Monitors& monitors)
{
    if (ec)
    {
        std::cerr << "Timer error: " << ec.message() << std::endl;
        return;
    }
    try
    {
        std::string read = readInterfaceName(*conn, path);
        auto entry = sshDefaults.find(read);
        if (entry == sshDefaults.end())
        {
            throw std::out_of_range(read + " ssh default failed to find");
        }
        // From here on only the table's own name is used.
        const std::string& name = entry->first;
        bool allowed =
            get_ini_long(sshSection, name.c_str(), entry->second ? 1 : 0) != 0;
        applySshControl(name, allowed);
        pushSsh(*conn, path, allowed);
        // A repeated announcement (the network service restarted, say)
        // re-applies the setting above but keeps the one watch.
        bool watched = std::any_of(
            monitors.begin(), monitors.end(),
            [&name](const auto& mon) { return mon->interfaceName() == name; });
        if (!watched)
        {
            monitors.push_back(std::make_unique<SshMon>(name, conn));
        }
        std::cout << "New interface monitored: " << name << std::endl;
    }
    catch (const std::exception& e)
    {
        std::cerr << "Failed to handle new EthernetInterface: " << e.what()
                  << std::endl;
    }
}

} // namespace portwarden
