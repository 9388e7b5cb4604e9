// What needs no bus: the signatures of the types the programs send, the
// match rule they watch properties with, and the texts and errnos of
// SdBusError.
#include <cerrno>
#include <map>
#include <sdbusplus/bus/match.hpp>
#include <sdbusplus/exception.hpp>
#include <sdbusplus/message/native_types.hpp>
#include <sdbusplus/message/types.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using sdbusplus::message::object_path;
using sdbusplus::message::types::signature_view;
using SdBusError = sdbusplus::exception::SdBusError;

TEST(Signature, OfTheTypesSentAndRead)
{
    using Value = std::variant<bool, uint8_t, int32_t, std::string>;
    using Interfaces = std::map<std::string, std::map<std::string, Value>>;
    using ExecuteReply =
        std::tuple<uint8_t, uint8_t, uint8_t, uint8_t, std::vector<uint8_t>>;
    const std::pair<std::string_view, std::string_view> cases[] = {
        {signature_view<bool>(), "b"},
        {signature_view<uint8_t>(), "y"},
        {signature_view<int16_t>(), "n"},
        {signature_view<uint16_t>(), "q"},
        {signature_view<int32_t>(), "i"},
        {signature_view<uint32_t>(), "u"},
        {signature_view<int64_t>(), "x"},
        {signature_view<uint64_t>(), "t"},
        {signature_view<double>(), "d"},
        {signature_view<std::string>(), "s"},
        {signature_view<const char*>(), "s"},
        {signature_view<const char(&)[6]>(), "s"},
        {signature_view<const std::string&>(), "s"},
        {signature_view<object_path>(), "o"},
        {signature_view<std::vector<uint8_t>>(), "ay"},
        {signature_view<std::vector<std::string>>(), "as"},
        {signature_view<Value>(), "v"},
        {signature_view<std::map<std::string, Value>>(), "a{sv}"},
        {signature_view<std::vector<std::pair<std::string, Value>>>(), "a{sv}"},
        {signature_view<Interfaces>(), "a{sa{sv}}"},
        {signature_view<ExecuteReply>(), "(yyyyay)"},
        {signature_view<uint8_t, std::string, std::vector<uint8_t>>(), "ysay"},
        {signature_view<>(), ""},
    };
    for (const auto& [actual, expected] : cases)
    {
        EXPECT_EQ(actual, expected);
    }
}

TEST(MatchRules, PropertiesChanged)
{
    EXPECT_EQ(sdbusplus::bus::match::rules::propertiesChanged("/p", "org.i"),
              "type='signal',path='/p',member='PropertiesChanged',"
              "interface='org.freedesktop.DBus.Properties',arg0='org.i',");
}

TEST(SdBusError, FromAnErrnoNamesTheErrorAfterThePrefix)
{
    struct Case
    {
        int error;
        const char* what;
        const char* name;
        int errnoBack;
    };
    const Case cases[] = {
        {EINVAL, "p: org.freedesktop.DBus.Error.InvalidArgs: Invalid argument",
         "org.freedesktop.DBus.Error.InvalidArgs", EINVAL},
        // Negative values count as positive.
        {-EHOSTUNREACH, "p: System.Error.EHOSTUNREACH: No route to host",
         "System.Error.EHOSTUNREACH", EHOSTUNREACH},
        // The name maps back to the errno sd-bus chose for it.
        {EPERM,
         "p: org.freedesktop.DBus.Error.AccessDenied: "
         "Operation not permitted",
         "org.freedesktop.DBus.Error.AccessDenied", EACCES},
    };
    for (const auto& c : cases)
    {
        SdBusError e(c.error, "p");
        EXPECT_STREQ(e.what(), c.what) << c.error;
        EXPECT_STREQ(e.name(), c.name) << c.error;
        EXPECT_EQ(e.get_errno(), c.errnoBack) << c.error;
    }
}

TEST(SdBusError, ErrnoZeroIsNotAnError)
{
    try
    {
        SdBusError e(0, "x");
        FAIL() << "constructed: " << e.what();
    }
    catch (const std::runtime_error& e)
    {
        EXPECT_STREQ(e.what(), "Failed to create SdBusError");
    }
}

TEST(SdBusError, TakesOverAnErrorAndKeepsItWhenMoved)
{
    sd_bus_error raw = SD_BUS_ERROR_NULL;
    sd_bus_error_set(&raw, "xyz.openbmc_project.Common.Error.InternalFailure",
                     "went wrong");
    SdBusError first(&raw, "sd_bus_call");
    EXPECT_FALSE(sd_bus_error_is_set(&raw)) << "ownership moves to the error";
    // A name sd-bus has no errno for maps to EIO.
    EXPECT_EQ(first.get_errno(), EIO);
    const std::string text =
        "sd_bus_call: "
        "xyz.openbmc_project.Common.Error.InternalFailure: "
        "went wrong";
    EXPECT_EQ(first.what(), text);

    SdBusError second(std::move(first));
    SdBusError third(ENOENT, "third");
    third = std::move(second);
    EXPECT_EQ(third.what(), text);
    EXPECT_STREQ(third.description(), "went wrong");
    EXPECT_STREQ(third.get_error()->name,
                 "xyz.openbmc_project.Common.Error.InternalFailure");
}

} // namespace
