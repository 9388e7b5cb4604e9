// ipmitool's `-I dummy` interface: the client writes the in-memory image of
// its request struct (then the data), and reads the image of its response
// struct (then the data).  Both layouts follow the client's ABI, which on a
// BMC or a development machine is the host's own.
#include "host.hpp"

#include <unistd.h>

#include <array>
#include <boost/asio/detached.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/spawn.hpp>
#include <boost/asio/write.hpp>
#include <cstring>
#include <phosphor-logging/log.hpp>

namespace ipmi::host
{
namespace
{

using boost::asio::local::stream_protocol;

// struct dummy_rq { struct { uint8_t netfn:6, lun:2; uint8_t cmd;
// uint8_t target_cmd; uint16_t data_len; uint8_t* data; } msg; }
constexpr std::size_t requestHeaderSize = sizeof(void*) == 8 ? 16 : 12;
constexpr std::size_t requestLenOffset = 4;
// struct dummy_rs { uint8_t netfn, cmd, seq, lun, ccode; int data_len;
// uint8_t* data; }
constexpr std::size_t responseHeaderSize = sizeof(void*) == 8 ? 24 : 16;
constexpr std::size_t responseCcOffset = 4;
constexpr std::size_t responseLenOffset = 8;
// The client reads response data into a 1 KiB buffer without a check.
constexpr std::size_t maxClientData = 1024;

std::vector<uint8_t> encodeResponse(uint8_t netFn, uint8_t cmd, uint8_t lun,
                                    const Reply& reply)
{
    std::size_t len = std::min(reply.data.size(), maxClientData);
    std::vector<uint8_t> frame(responseHeaderSize + len, 0);
    frame[0] = static_cast<uint8_t>(netFn | 1);
    frame[1] = cmd;
    frame[3] = lun;
    frame[responseCcOffset] = reply.cc;
    int32_t wireLen = static_cast<int32_t>(len);
    std::memcpy(frame.data() + responseLenOffset, &wireLen, sizeof(wireLen));
    std::copy_n(reply.data.begin(), len, frame.begin() + responseHeaderSize);
    return frame;
}

void serveClient(stream_protocol::socket socket,
                 std::shared_ptr<sdbusplus::asio::connection> bus,
                 boost::asio::yield_context yield)
{
    using namespace phosphor::logging;
    for (;;)
    {
        boost::system::error_code ec;
        std::array<uint8_t, requestHeaderSize> header{};
        boost::asio::async_read(socket, boost::asio::buffer(header), yield[ec]);
        if (ec)
        {
            return; // the client closed (after its BYE) or went away
        }
        uint8_t netFn = header[0] & 0x3F;
        uint8_t lun = static_cast<uint8_t>(header[1] & 0x03);
        uint8_t cmd = header[2];
        uint16_t len = 0;
        std::memcpy(&len, header.data() + requestLenOffset, sizeof(len));
        std::vector<uint8_t> data(len);
        if (len != 0)
        {
            boost::asio::async_read(socket, boost::asio::buffer(data),
                                    yield[ec]);
            if (ec)
            {
                return;
            }
        }
        // Every request is answered, the client's closing BYE (0x3F/0xFF)
        // included: a real command with those numbers must not hang.
        Reply reply = dispatch(yield, bus, netFn, lun, cmd, data);
        if (reply.data.size() > maxClientData)
        {
            log<level::ERR>("Response too long for the dummy interface",
                            entry("NETFN=%x", netFn), entry("CMD=%x", cmd),
                            entry("LENGTH=%zu", reply.data.size()));
        }
        auto frame = encodeResponse(netFn, cmd, lun, reply);
        // One write, so the client's header read completes in one call.
        boost::asio::async_write(socket, boost::asio::buffer(frame), yield[ec]);
        if (ec)
        {
            return; // EPIPE after BYE is the normal end
        }
    }
}

} // namespace

struct DummyServer::Impl
{
    Impl(boost::asio::io_context& io,
         std::shared_ptr<sdbusplus::asio::connection> bus,
         const std::string& path) :
        acceptor(io),
        path(path)
    {
        ::unlink(path.c_str()); // a stale socket file refuses connections
        acceptor.open();
        acceptor.bind(stream_protocol::endpoint(path));
        acceptor.listen();
        boost::asio::spawn(
            io,
            [this, &io, bus](boost::asio::yield_context yield) {
                for (;;)
                {
                    boost::system::error_code ec;
                    stream_protocol::socket socket(io);
                    acceptor.async_accept(socket, yield[ec]);
                    if (ec)
                    {
                        return;
                    }
                    boost::asio::spawn(
                        io,
                        [s = std::move(socket),
                         bus](boost::asio::yield_context y) mutable {
                            serveClient(std::move(s), bus, y);
                        },
                        boost::asio::detached);
                }
            },
            boost::asio::detached);
    }

    ~Impl()
    {
        boost::system::error_code ec;
        acceptor.close(ec);
        ::unlink(path.c_str());
    }

    stream_protocol::acceptor acceptor;
    std::string path;
};

DummyServer::DummyServer(boost::asio::io_context& io,
                         std::shared_ptr<sdbusplus::asio::connection> bus,
                         const std::string& path) :
    impl(std::make_unique<Impl>(io, std::move(bus), path))
{
}

DummyServer::~DummyServer() = default;

} // namespace ipmi::host
