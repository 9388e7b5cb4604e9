// What needs no bus: the texts and errnos of SdBusError, which the programs
// log and answer with.
#include <cerrno>
#include <sdbusplus/exception.hpp>
#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace
{

using SdBusError = sdbusplus::exception::SdBusError;

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
