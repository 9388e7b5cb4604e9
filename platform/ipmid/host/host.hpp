// The ipmid host: command registry and dispatch, provider loading, and the
// front ends that feed requests into the dispatcher.
#pragma once

#include <boost/asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <ipmid/api.hpp>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ipmi::host
{

struct Reply
{
    Cc cc;
    std::vector<uint8_t> data;
};

// One slot of the standard NetFn/command map.
struct Registration
{
    int prio;
    Privilege priv;
    bool legacy;
    // The privilege a legacy provider asked for, before it is mapped.
    int legacyPrivilege;
    HandlerBase::ptr handler;
};

// Key (netFn << 8) | cmd.
std::map<unsigned, Registration> registrations();
void clearRegistry();

// Provider files of a directory in load order: regular files (symlinks
// skipped) with ".so" among their chained extensions, sorted by full path.
std::vector<std::string> providerFiles(const std::string& dir);

// dlopens every provider of `dir` in order; a failed load is logged and
// skipped.  Returns the handles of the loaded ones.
std::vector<void*> loadProviders(const std::string& dir);

// Dispatches one request inside the calling coroutine.
Reply dispatch(boost::asio::yield_context yield,
               std::shared_ptr<sdbusplus::asio::connection> bus, NetFn netFn,
               uint8_t lun, Cmd cmd, const std::vector<uint8_t>& data,
               Privilege priv = Privilege::Admin);

// Runs one request in its own coroutine on `io` and calls `done` with the
// reply.
void spawnRequest(boost::asio::io_context& io,
                  std::shared_ptr<sdbusplus::asio::connection> bus, NetFn netFn,
                  uint8_t lun, Cmd cmd, std::vector<uint8_t> data,
                  std::function<void(Reply)> done);

// Convenience for tests and tools: runs one request to completion on `io`.
Reply execute(boost::asio::io_context& io, NetFn netFn, Cmd cmd,
              const std::vector<uint8_t>& data,
              std::shared_ptr<sdbusplus::asio::connection> bus = nullptr);

// Serves ipmitool's `-I dummy` protocol on a Unix stream socket.
class DummyServer
{
  public:
    DummyServer(boost::asio::io_context& io,
                std::shared_ptr<sdbusplus::asio::connection> bus,
                const std::string& path);
    ~DummyServer();
    DummyServer(const DummyServer&) = delete;
    DummyServer& operator=(const DummyServer&) = delete;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// Serves method `execute` of xyz.openbmc_project.Ipmi.Server on
// /xyz/openbmc_project/Ipmi; the caller owns the bus name.
class DbusServer
{
  public:
    explicit DbusServer(std::shared_ptr<sdbusplus::asio::connection> bus);
    ~DbusServer();
    DbusServer(const DbusServer&) = delete;
    DbusServer& operator=(const DbusServer&) = delete;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// The well-known name the host serves under.
inline constexpr auto busName = "xyz.openbmc_project.Ipmi.Host";

} // namespace ipmi::host
