#include <poll.h>

#include <chrono>
#include <sdbusplus/asio/connection.hpp>

namespace sdbusplus::asio
{

connection::connection(boost::asio::io_context& io, sdbusplus::bus_t&& bus) :
    sdbusplus::bus_t(std::move(bus)), io_(io), socket_(io), timer_(io)
{
    start();
}

connection::~connection()
{
    self_.reset();
    timer_.cancel();
    socket_.cancel();
    // The descriptor belongs to sd-bus: stop watching it without closing.
    socket_.release();
}

void connection::start()
{
    self_ = std::make_shared<connection*>(this);
    int fd = get_fd();
    if (fd < 0)
    {
        throw exception::SdBusError(-fd, "sd_bus_get_fd");
    }
    socket_.assign(fd);
    // Messages may already be queued (read while the connection was being
    // set up): look once the context runs.
    std::weak_ptr<connection*> weak = self_;
    boost::asio::post(io_, [weak]() {
        if (auto self = weak.lock())
        {
            (*self)->run();
        }
    });
}

void connection::run()
{
    int r = sd_bus_process(get(), nullptr);
    if (r > 0)
    {
        // One message per turn, so other work on the context interleaves.
        std::weak_ptr<connection*> weak = self_;
        boost::asio::post(io_, [weak]() {
            if (auto self = weak.lock())
            {
                (*self)->run();
            }
        });
        return;
    }
    if (r < 0)
    {
        // Disconnected or closed: there is nothing left to wait for.
        timer_.cancel();
        return;
    }
    arm();
}

void connection::arm()
{
    int events = sd_bus_get_events(get());
    if (events < 0)
    {
        return;
    }
    std::weak_ptr<connection*> weak = self_;
    if ((events & POLLIN) != 0 && !readPending_)
    {
        readPending_ = true;
        socket_.async_wait(boost::asio::posix::descriptor_base::wait_read,
                           [weak](const boost::system::error_code& ec) {
                               auto self = weak.lock();
                               if (!self)
                               {
                                   return;
                               }
                               (*self)->readPending_ = false;
                               if (!ec)
                               {
                                   (*self)->run();
                               }
                           });
    }
    if ((events & POLLOUT) != 0 && !writePending_)
    {
        writePending_ = true;
        socket_.async_wait(boost::asio::posix::descriptor_base::wait_write,
                           [weak](const boost::system::error_code& ec) {
                               auto self = weak.lock();
                               if (!self)
                               {
                                   return;
                               }
                               (*self)->writePending_ = false;
                               if (!ec)
                               {
                                   (*self)->run();
                               }
                           });
    }

    uint64_t usec = 0;
    if (sd_bus_get_timeout(get(), &usec) < 0 || usec == UINT64_MAX)
    {
        timer_.cancel();
        return;
    }
    // sd-bus answers an absolute CLOCK_MONOTONIC time, which is the clock
    // behind steady_clock; 0 means "process now".
    timer_.expires_at(std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::microseconds(usec))));
    timer_.async_wait([weak](const boost::system::error_code& ec) {
        auto self = weak.lock();
        if (self && !ec)
        {
            (*self)->run();
        }
    });
}

} // namespace sdbusplus::asio
