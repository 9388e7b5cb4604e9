// What needs no bus: the texts and errnos of SdBusError, which the programs
// log and answer with.
#include <cerrno>
#include <sdbusplus/exception.hpp>
#include <string>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

using SdBusError = sdbusplus::exception::SdBusError;

TEST(SdBusError, TextsAndErrnosFromAnErrnoOrATakenOverError)
{
    // The name follows the prefix; negative errnos count as positive; the
    // name maps back to the errno sd-bus chose for it (EPERM to EACCES).
    for (const auto& [error, name, text, back] :
         std::initializer_list<std::tuple<int, std::string, const char*, int>>{
             {EINVAL, "org.freedesktop.DBus.Error.InvalidArgs",
              "Invalid argument", EINVAL},
             {-EHOSTUNREACH, "System.Error.EHOSTUNREACH", "No route to host",
              EHOSTUNREACH},
             {EPERM, "org.freedesktop.DBus.Error.AccessDenied",
              "Operation not permitted", EACCES}})
    {
        SdBusError e(error, "p");
        EXPECT_EQ(e.what(), "p: " + name + ": " + text) << error;
        EXPECT_EQ(e.name(), name) << error;
        EXPECT_EQ(e.get_errno(), back) << error;
    }

    const std::string name = "xyz.openbmc_project.Common.Error.InternalFailure";
    sd_bus_error raw = SD_BUS_ERROR_NULL;
    sd_bus_error_set(&raw, name.c_str(), "went wrong");
    SdBusError first(&raw, "sd_bus_call");
    EXPECT_FALSE(sd_bus_error_is_set(&raw)) << "ownership moves to the error";
    // A name sd-bus has no errno for maps to EIO.
    EXPECT_EQ(first.get_errno(), EIO);
    const std::string text = "sd_bus_call: " + name + ": went wrong";
    EXPECT_EQ(first.what(), text);
    // Moves keep the error.
    SdBusError second(std::move(first));
    SdBusError third(ENOENT, "third");
    third = std::move(second);
    EXPECT_EQ(third.what(), text);
    EXPECT_STREQ(third.description(), "went wrong");
    EXPECT_EQ(third.get_error()->name, name);
}
