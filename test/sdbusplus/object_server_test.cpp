// Objects served with object_server, called by a second connection on the
// same io_context.
#include <sdbusplus/asio/connection.hpp>
#include <sdbusplus/asio/object_server.hpp>
#include <sdbusplus/asio/property.hpp>
#include <sdbusplus/bus/match.hpp>
#include <sdbusplus/exception.hpp>

#include <boost/asio/io_context.hpp>
#include <boost/asio/spawn.hpp>
#include <boost/asio/steady_timer.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

namespace
{

using namespace std::chrono_literals;
using boost::system::error_code;
using testing::HasSubstr;

constexpr auto path = "/org/kestrel/test/served";
constexpr auto iface = "org.kestrel.test.Served";
constexpr auto properties = "org.freedesktop.DBus.Properties";

using ExecuteReply =
    std::tuple<uint8_t, uint8_t, uint8_t, uint8_t, std::vector<uint8_t>>;

class ObjectServerTest : public testing::Test
{
  protected:
    boost::asio::io_context io;
    std::shared_ptr<sdbusplus::asio::connection> server =
        std::make_shared<sdbusplus::asio::connection>(
            io, sdbusplus::bus::new_system());
    std::shared_ptr<sdbusplus::asio::connection> client =
        std::make_shared<sdbusplus::asio::connection>(
            io, sdbusplus::bus::new_system());
    sdbusplus::asio::object_server objects{server};
    std::shared_ptr<sdbusplus::asio::dbus_interface> served =
        objects.add_interface(path, iface);
    std::string service = server->get_unique_name();

    struct Reply
    {
        bool done = false;
        error_code ec;
        sdbusplus::message_t msg;

        std::string errorName() const
        {
            return msg && msg.is_method_error() ? msg.get_error()->name : "";
        }
    };

    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds limit = 5s)
    {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < deadline)
        {
            io.run_one_for(50ms);
        }
        return done();
    }

    template <typename... Args>
    std::shared_ptr<Reply> send(const std::string& interface,
                                const std::string& member, const Args&... args)
    {
        auto reply = std::make_shared<Reply>();
        client->async_method_call(
            [reply](error_code ec, sdbusplus::message_t& m)
            {
                reply->done = true;
                reply->ec = ec;
                reply->msg = m;
            },
            service, path, interface, member, args...);
        return reply;
    }

    template <typename... Args>
    Reply call(const std::string& interface, const std::string& member,
               const Args&... args)
    {
        auto reply = send(interface, member, args...);
        EXPECT_TRUE(runUntil([&reply] { return reply->done; }))
            << member << " got no reply";
        return *reply;
    }
};

TEST_F(ObjectServerTest, YieldMethodReturningATupleRepliesOneStruct)
{
    served->register_method(
        "execute",
        [](boost::asio::yield_context, uint8_t netFn, uint8_t lun, uint8_t cmd,
           std::vector<uint8_t> data,
           std::map<std::string, std::variant<int32_t, uint32_t>> options)
            -> ExecuteReply
        {
            data.push_back(static_cast<uint8_t>(options.size()));
            return {static_cast<uint8_t>(netFn | 1), lun, cmd, 0x00,
                    std::move(data)};
        });
    ASSERT_TRUE(served->initialize());

    std::map<std::string, std::variant<int32_t, uint32_t>> options{
        {"privilege", int32_t{4}}};
    auto reply = call(iface, "execute", uint8_t{0x3a}, uint8_t{0},
                      uint8_t{0xab}, std::vector<uint8_t>{1, 2}, options);
    ASSERT_FALSE(reply.ec) << reply.ec.message();
    EXPECT_STREQ(reply.msg.get_signature(), "(yyyyay)");
    EXPECT_EQ(reply.msg.unpack<ExecuteReply>(),
              (ExecuteReply{0x3b, 0, 0xab, 0, {1, 2, 1}}));

    auto xml = call("org.freedesktop.DBus.Introspectable", "Introspect")
                   .msg.unpack<std::string>();
    EXPECT_THAT(xml, HasSubstr("<interface name=\"org.kestrel.test.Served\">"));
    EXPECT_THAT(xml, HasSubstr("<method name=\"execute\">"));
    EXPECT_THAT(xml, HasSubstr("<arg type=\"a{sv}\" direction=\"in\"/>"));
    EXPECT_THAT(xml, HasSubstr("<arg type=\"(yyyyay)\" direction=\"out\"/>"));
}

TEST_F(ObjectServerTest, YieldMethodsSuspendWithoutHoldingOthersUp)
{
    boost::asio::steady_timer gate(
        io, boost::asio::steady_timer::time_point::max());
    std::vector<std::string> order;
    served->register_method("Wait",
                            [&](boost::asio::yield_context yield)
                            {
                                error_code ec;
                                gate.async_wait(yield[ec]);
                                order.push_back("Wait");
                                return std::string("woken");
                            });
    served->register_method("Open",
                            [&]()
                            {
                                gate.cancel();
                                order.push_back("Open");
                                return true;
                            });
    served->initialize();

    auto wait = send(iface, "Wait");
    EXPECT_FALSE(runUntil([&wait] { return wait->done; }, 200ms));
    auto open = send(iface, "Open");
    ASSERT_TRUE(runUntil([&] { return wait->done && open->done; }));
    EXPECT_EQ(order, (std::vector<std::string>{"Open", "Wait"}));
    EXPECT_EQ(wait->msg.unpack<std::string>(), "woken");
    EXPECT_TRUE(open->msg.unpack<bool>());
}

TEST_F(ObjectServerTest, HandlersMayTakeTheMessage)
{
    served->register_method("Sender", [](sdbusplus::message_t& m)
                            { return std::string(m.get_sender()); });
    served->register_method("Double", [](boost::asio::yield_context,
                                         sdbusplus::message_t& m, int32_t x)
                            { return std::make_tuple(m.get_member(), 2 * x); });
    served->initialize();

    EXPECT_EQ(call(iface, "Sender").msg.unpack<std::string>(),
              client->get_unique_name());
    auto twice = call(iface, "Double", int32_t{21});
    EXPECT_STREQ(twice.msg.get_signature(), "(si)");
    EXPECT_EQ((twice.msg.unpack<std::tuple<std::string, int32_t>>()),
              (std::tuple<std::string, int32_t>{"Double", 42}));
}

TEST_F(ObjectServerTest, ArgumentsFollowTheHandlersParameters)
{
    served->register_method(
        "Sum",
        [](const std::vector<uint8_t>& bytes,
           const std::map<std::string, std::variant<int32_t, std::string>>&
               extra)
        {
            uint32_t sum = 0;
            for (auto b : bytes)
            {
                sum += b;
            }
            for (const auto& [key, value] : extra)
            {
                if (const int32_t* i = std::get_if<int32_t>(&value))
                {
                    sum += static_cast<uint32_t>(*i);
                }
            }
            return sum;
        });
    served->register_method("Nothing", []() {});
    served->initialize();

    std::map<std::string, std::variant<int32_t, std::string>> extra{
        {"a", int32_t{10}}, {"b", std::string("ignored")}};
    auto sum = call(iface, "Sum", std::vector<uint8_t>{1, 2, 3}, extra);
    ASSERT_FALSE(sum.ec);
    EXPECT_EQ(sum.msg.unpack<uint32_t>(), 16u);

    auto wrong = call(iface, "Sum", std::string("not bytes"));
    EXPECT_EQ(wrong.errorName(), "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(wrong.ec.value(), EINVAL);

    auto nothing = call(iface, "Nothing");
    EXPECT_FALSE(nothing.ec);
    EXPECT_STREQ(nothing.msg.get_signature(), "");
}

TEST_F(ObjectServerTest, ExceptionsBecomeErrorReplies)
{
    served->register_method(
        "BusError",
        []() -> int32_t
        { throw sdbusplus::exception::SdBusError(ENOENT, "lookup"); });
    served->register_method("Plain",
                            []() -> int32_t
                            { throw std::runtime_error("plain failure"); });
    served->register_method("YieldEnum",
                            [](boost::asio::yield_context) -> std::string {
                                throw sdbusplus::exception::InvalidEnumString();
                            });
    served->register_method("YieldPlain", [](boost::asio::yield_context)
                            { throw std::logic_error("in a coroutine"); });
    served->register_method("Fine", []() { return int32_t{1}; });
    served->initialize();

    auto busError = call(iface, "BusError");
    EXPECT_EQ(busError.errorName(), "org.freedesktop.DBus.Error.FileNotFound");
    EXPECT_EQ(busError.ec.value(), ENOENT);

    auto plain = call(iface, "Plain");
    EXPECT_EQ(plain.errorName(), "org.freedesktop.DBus.Error.IOError");
    EXPECT_EQ(plain.ec.value(), EIO);

    auto yieldEnum = call(iface, "YieldEnum");
    EXPECT_EQ(yieldEnum.errorName(),
              "xyz.openbmc_project.sdbusplus.Error.InvalidEnumString");
    EXPECT_TRUE(yieldEnum.ec);

    auto yieldPlain = call(iface, "YieldPlain");
    EXPECT_EQ(yieldPlain.errorName(), "org.freedesktop.DBus.Error.IOError");

    auto fine = call(iface, "Fine");
    EXPECT_FALSE(fine.ec) << "the server keeps serving";
    EXPECT_EQ(fine.msg.unpack<int32_t>(), 1);
}

TEST_F(ObjectServerTest, Properties)
{
    served->register_property("Count", uint32_t{5});
    served->register_property("Mode", std::string("auto"),
                              sdbusplus::asio::PropertyPermission::readWrite);
    served->register_property("Limit", int32_t{10},
                              [](const int32_t& requested, int32_t& current)
                              {
                                  if (requested > 100)
                                  {
                                      throw sdbusplus::exception::SdBusError(
                                          EINVAL, "Limit");
                                  }
                                  current = requested;
                                  return true;
                              });

    namespace rules = sdbusplus::bus::match::rules;
    std::vector<std::string> changed;
    sdbusplus::bus::match_t match(
        *client, rules::propertiesChanged(path, iface),
        [&changed](sdbusplus::message_t& m)
        {
            std::string name;
            std::map<std::string, std::variant<uint32_t, std::string, int32_t>>
                values;
            m.read(name, values);
            for (const auto& [key, value] : values)
            {
                changed.push_back(key);
            }
        });
    ASSERT_TRUE(served->initialize(true));
    EXPECT_FALSE(served->register_property("Late", true))
        << "the table is fixed once on the bus";

    auto get = [this](const char* name)
    { return call(properties, "Get", std::string(iface), std::string(name)); };
    auto set = [this](const char* name, auto value)
    {
        return call(properties, "Set", std::string(iface), std::string(name),
                    std::variant<decltype(value)>(value));
    };

    EXPECT_EQ(get("Count").msg.unpack<std::variant<uint32_t>>(),
              std::variant<uint32_t>(5u));
    EXPECT_EQ(set("Count", uint32_t{9}).errorName(),
              "org.freedesktop.DBus.Error.PropertyReadOnly");

    EXPECT_FALSE(set("Mode", std::string("manual")).ec);
    EXPECT_EQ(get("Mode").msg.unpack<std::variant<std::string>>(),
              std::variant<std::string>("manual"));

    EXPECT_FALSE(set("Limit", int32_t{50}).ec);
    auto refused = set("Limit", int32_t{500});
    EXPECT_EQ(refused.errorName(), "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(get("Limit").msg.unpack<std::variant<int32_t>>(),
              std::variant<int32_t>(50));

    EXPECT_TRUE(served->set_property("Count", uint32_t{6}));
    EXPECT_FALSE(served->set_property("Count", std::string("six")));
    EXPECT_FALSE(served->set_property("Missing", uint32_t{1}));
    EXPECT_EQ(get("Count").msg.unpack<std::variant<uint32_t>>(),
              std::variant<uint32_t>(6u));

    ASSERT_TRUE(runUntil([&changed] { return changed.size() >= 3; }));
    io.poll();
    EXPECT_EQ(changed, (std::vector<std::string>{"Mode", "Limit", "Count"}));
}

TEST_F(ObjectServerTest, InterfacesAreAnnouncedAndWithdrawn)
{
    namespace rules = sdbusplus::bus::match::rules;
    std::vector<std::string> events;
    sdbusplus::bus::match_t added(*client, rules::interfacesAdded(),
                                  [&events](sdbusplus::message_t& m)
                                  {
                                      sdbusplus::message::object_path p;
                                      m.read(p);
                                      events.push_back("added " + p.str);
                                  });
    sdbusplus::bus::match_t removed(
        *client, rules::interfacesRemoved(),
        [&events](sdbusplus::message_t& m)
        {
            auto [p, names] = m.unpack<sdbusplus::message::object_path,
                                       std::vector<std::string>>();
            events.push_back("removed " + p.str + " " + names.at(0));
        });

    served->register_property("Count", uint32_t{5});
    served->register_method("Ping", []() { return true; });
    served->initialize();
    ASSERT_TRUE(runUntil([&events] { return !events.empty(); }));
    EXPECT_EQ(events, std::vector<std::string>{std::string("added ") + path});

    using Managed = std::map<
        sdbusplus::message::object_path,
        std::map<std::string, std::map<std::string, std::variant<uint32_t>>>>;
    auto managed = std::make_shared<Reply>();
    client->async_method_call(
        [managed](error_code ec, sdbusplus::message_t& m)
        {
            managed->done = true;
            managed->ec = ec;
            managed->msg = m;
        },
        service, "/", "org.freedesktop.DBus.ObjectManager",
        "GetManagedObjects");
    ASSERT_TRUE(runUntil([&managed] { return managed->done; }));
    auto objects_ = managed->msg.unpack<Managed>();
    EXPECT_EQ(objects_.at(sdbusplus::message::object_path(std::string(path)))
                  .at(iface)
                  .at("Count"),
              std::variant<uint32_t>(5u));

    EXPECT_TRUE(objects.remove_interface(served));
    EXPECT_FALSE(objects.remove_interface(served));
    served.reset();
    ASSERT_TRUE(runUntil([&events] { return events.size() == 2; }));
    EXPECT_EQ(events[1], std::string("removed ") + path + " " + iface);
    auto gone = call(iface, "Ping");
    EXPECT_TRUE(gone.ec);
    EXPECT_THAT(gone.errorName(),
                HasSubstr("org.freedesktop.DBus.Error.Unknown"));
}

} // namespace
