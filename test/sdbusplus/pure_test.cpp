// What needs no bus: type signatures, object-path segments, match-rule
// strings and the texts and errnos of SdBusError.
#include <sdbusplus/bus/match.hpp>
#include <sdbusplus/exception.hpp>
#include <sdbusplus/message/native_types.hpp>
#include <sdbusplus/message/types.hpp>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

namespace
{

using sdbusplus::message::object_path;
using sdbusplus::message::types::signature_view;

template <typename T>
struct CountingAllocator : std::allocator<T>
{
    template <typename U>
    struct rebind
    {
        using other = CountingAllocator<U>;
    };
    CountingAllocator() = default;
    template <typename U>
    CountingAllocator(const CountingAllocator<U>&) noexcept
    {
    }
};

TEST(Signature, BasicTypes)
{
    EXPECT_EQ(signature_view<bool>(), "b");
    EXPECT_EQ(signature_view<uint8_t>(), "y");
    EXPECT_EQ(signature_view<int16_t>(), "n");
    EXPECT_EQ(signature_view<uint16_t>(), "q");
    EXPECT_EQ(signature_view<int32_t>(), "i");
    EXPECT_EQ(signature_view<uint32_t>(), "u");
    EXPECT_EQ(signature_view<int64_t>(), "x");
    EXPECT_EQ(signature_view<uint64_t>(), "t");
    EXPECT_EQ(signature_view<double>(), "d");
    EXPECT_EQ(signature_view<sdbusplus::message::signature>(), "g");
    EXPECT_EQ(signature_view<sdbusplus::message::unix_fd>(), "h");
    EXPECT_EQ(signature_view<object_path>(), "o");
    EXPECT_EQ(signature_view<sdbusplus::object_path>(), "o");
}

TEST(Signature, EveryStringSpellingIsS)
{
    EXPECT_EQ(signature_view<std::string>(), "s");
    EXPECT_EQ(signature_view<std::string_view>(), "s");
    EXPECT_EQ(signature_view<const char*>(), "s");
    EXPECT_EQ(signature_view<char*>(), "s");
    EXPECT_EQ(signature_view<const char(&)[6]>(), "s");
    EXPECT_EQ(signature_view<const std::string&>(), "s");
}

TEST(Signature, Containers)
{
    EXPECT_EQ(signature_view<std::vector<uint8_t>>(), "ay");
    EXPECT_EQ(
        (signature_view<std::vector<uint8_t, CountingAllocator<uint8_t>>>()),
        "ay");
    EXPECT_EQ((signature_view<std::array<uint16_t, 4>>()), "aq");
    EXPECT_EQ(signature_view<std::set<std::string>>(), "as");
    EXPECT_EQ(signature_view<std::vector<std::vector<int32_t>>>(), "aai");
    using Value = std::variant<int32_t, std::string>;
    EXPECT_EQ((signature_view<std::map<std::string, Value>>()), "a{sv}");
    EXPECT_EQ((signature_view<std::unordered_map<uint32_t, bool>>()), "a{ub}");
    EXPECT_EQ((signature_view<std::vector<std::pair<std::string, Value>>>()),
              "a{sv}");
    EXPECT_EQ((signature_view<std::pair<int64_t, double>>()), "{xd}");
}

TEST(Signature, StructsVariantsAndArgumentLists)
{
    using Association = std::tuple<std::string, std::string, std::string>;
    EXPECT_EQ(signature_view<Association>(), "(sss)");
    EXPECT_EQ(signature_view<std::vector<Association>>(), "a(sss)");
    EXPECT_EQ((signature_view<std::tuple<uint8_t, uint8_t, uint8_t, uint8_t,
                                         std::vector<uint8_t>>>()),
              "(yyyyay)");
    EXPECT_EQ((signature_view<
                  std::tuple<std::vector<uint8_t>, std::vector<uint8_t>>>()),
              "(ayay)");
    EXPECT_EQ((signature_view<std::variant<std::monostate, bool>>()), "v");
    using Managed = std::map<
        object_path,
        std::map<std::string,
                 std::map<std::string, std::variant<std::string, bool>>>>;
    EXPECT_EQ(signature_view<Managed>(), "a{oa{sa{sv}}}");
    EXPECT_EQ((signature_view<uint8_t, std::string, std::vector<uint8_t>>()),
              "ysay");
    EXPECT_EQ(signature_view<>(), "");
}

TEST(ObjectPath, PlainSegmentsAreAppendedAsTheyAre)
{
    object_path root(std::string("/"));
    EXPECT_EQ((root / "abc").str, "/abc");
    EXPECT_EQ((root / "abc" / "1abc" / "a_b").str, "/abc/1abc/a_b");
    object_path empty;
    EXPECT_EQ((empty / "abc").str, "/abc");
    object_path p(std::string("/xyz/openbmc_project"));
    p /= "led";
    EXPECT_EQ(p.str, "/xyz/openbmc_project/led");
    EXPECT_EQ(object_path(std::string("/a"), "b", std::string("c")).str,
              "/a/b/c");
}

TEST(ObjectPath, OtherSegmentsAreEscapedWhole)
{
    object_path root(std::string("/"));
    EXPECT_EQ((root / "temp-1").str, "/_74emp_2d1");
    EXPECT_EQ((root / "_x").str, "/_5fx");
    EXPECT_EQ((root / "a b_c").str, "/_61_20b_5fc");
    EXPECT_EQ((root / "-").str, "/_2d");
    EXPECT_EQ((root / "\xc3\xa9").str, "/_c3_a9");
    EXPECT_THROW(root / "", std::invalid_argument);
    object_path unchanged(std::string("/a"));
    EXPECT_THROW(unchanged /= "", std::invalid_argument);
    EXPECT_EQ(unchanged.str, "/a");
}

TEST(ObjectPath, FilenameUndoesTheEscaping)
{
    object_path root(std::string("/base"));
    for (std::string segment :
         {"temp-1", "_x", "a b_c", "\xc3\xa9", "-", "abc", "1abc", "a_b"})
    {
        EXPECT_EQ((root / segment).filename(), segment) << segment;
    }
    EXPECT_EQ(object_path(std::string("/a/_zz")).filename(), "");
    EXPECT_EQ(object_path(std::string("/a/_6")).filename(), "");
    EXPECT_EQ(object_path(std::string("/a/b_2d")).filename(), "b_2d");
    EXPECT_EQ(object_path(std::string("/")).filename(), "");
    EXPECT_EQ(object_path(std::string("noslash")).filename(), "");
}

TEST(ObjectPath, ParentPath)
{
    EXPECT_EQ(object_path(std::string("/a/b/c")).parent_path().str, "/a/b");
    EXPECT_EQ(object_path(std::string("/a")).parent_path().str, "/");
    EXPECT_EQ(object_path(std::string("/")).parent_path().str, "/");
    EXPECT_EQ(object_path(std::string("a")).parent_path().str, "/");
}

TEST(ObjectPath, ComparesAndHashesAsItsString)
{
    object_path a(std::string("/a"));
    object_path b(std::string("/b"));
    EXPECT_TRUE(a == std::string("/a"));
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(a < std::string("/b"));
    const std::string& asString = a;
    EXPECT_EQ(asString, "/a");
    std::map<object_path, int> ordered{{b, 2}, {a, 1}};
    EXPECT_EQ(ordered.begin()->first, a);
    std::unordered_set<object_path> hashed{a, b, a};
    EXPECT_EQ(hashed.size(), 2u);
}

TEST(MatchRules, BuildersJoinWithTrailingCommas)
{
    namespace rules = sdbusplus::bus::match::rules;
    EXPECT_EQ(rules::type::signal() + rules::sender("org.a") +
                  rules::member("M") + rules::path("/p") +
                  rules::interface("org.i") + rules::destination(":1.5"),
              "type='signal',sender='org.a',member='M',path='/p',"
              "interface='org.i',destination=':1.5',");
    EXPECT_EQ(rules::argN(3, "x"), "arg3='x',");
    EXPECT_EQ(rules::argNpath(0, "/a"), "arg0path='/a',");
    EXPECT_EQ(rules::path_namespace("/xyz"), "path_namespace='/xyz',");
    EXPECT_EQ(rules::arg0namespace("xyz.openbmc_project"),
              "arg0namespace='xyz.openbmc_project',");
    EXPECT_EQ(rules::nameOwnerChanged("org.x"),
              "type='signal',sender='org.freedesktop.DBus',"
              "member='NameOwnerChanged',arg0='org.x',");
}

TEST(MatchRules, ObjectManagerAndPropertySignals)
{
    namespace rules = sdbusplus::bus::match::rules;
    EXPECT_EQ(rules::interfacesAdded(),
              "type='signal',interface='org.freedesktop.DBus.ObjectManager',"
              "member='InterfacesAdded',");
    EXPECT_EQ(rules::interfacesRemoved("/m"),
              "type='signal',interface='org.freedesktop.DBus.ObjectManager',"
              "member='InterfacesRemoved',path='/m',");
    EXPECT_EQ(rules::interfacesAddedAtPath("/o"),
              "type='signal',interface='org.freedesktop.DBus.ObjectManager',"
              "member='InterfacesAdded',arg0path='/o',");
    EXPECT_EQ(rules::propertiesChanged("/p", "org.i"),
              "type='signal',path='/p',member='PropertiesChanged',"
              "interface='org.freedesktop.DBus.Properties',arg0='org.i',");
    EXPECT_EQ(rules::propertiesChangedNamespace("/p", "org"),
              "type='signal',path_namespace='/p',member='PropertiesChanged',"
              "interface='org.freedesktop.DBus.Properties',"
              "arg0namespace='org',");
}

TEST(SdBusError, FromErrnoNamesTheErrorAfterThePrefix)
{
    sdbusplus::exception::SdBusError e(EINVAL, "myprefix");
    EXPECT_STREQ(e.what(), "myprefix: org.freedesktop.DBus.Error.InvalidArgs: "
                           "Invalid argument");
    EXPECT_STREQ(e.name(), "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_STREQ(e.description(), "Invalid argument");
    EXPECT_EQ(e.get_errno(), EINVAL);

    sdbusplus::exception::SdBusError negative(-EHOSTUNREACH,
                                              std::string("other"));
    EXPECT_EQ(negative.get_errno(), EHOSTUNREACH);
    EXPECT_EQ(std::string(negative.what()).rfind("other: ", 0), 0u);
}

TEST(SdBusError, ErrnoZeroIsNotAnError)
{
    try
    {
        sdbusplus::exception::SdBusError e(0, "x");
        FAIL() << "constructed: " << e.what();
    }
    catch (const std::runtime_error& e)
    {
        EXPECT_STREQ(e.what(), "Failed to create SdBusError");
    }
}

TEST(SdBusError, ErrnoGoesThroughTheNameTables)
{
    // EPERM's name maps back to EACCES; a name sd-bus does not know is EIO.
    EXPECT_EQ(sdbusplus::exception::SdBusError(EPERM, "p").get_errno(), EACCES);
    sd_bus_error raw = SD_BUS_ERROR_NULL;
    sd_bus_error_set(&raw, "xyz.openbmc_project.Common.Error.InternalFailure",
                     "went wrong");
    sdbusplus::exception::SdBusError e(&raw, "sd_bus_call");
    EXPECT_FALSE(sd_bus_error_is_set(&raw)) << "ownership moves to the error";
    EXPECT_EQ(e.get_errno(), EIO);
    EXPECT_STREQ(e.what(), "sd_bus_call: "
                           "xyz.openbmc_project.Common.Error.InternalFailure: "
                           "went wrong");
}

TEST(SdBusError, MovesKeepTheError)
{
    sdbusplus::exception::SdBusError first(ENOENT, "first");
    std::string text = first.what();
    sdbusplus::exception::SdBusError second(std::move(first));
    EXPECT_EQ(second.what(), text);
    EXPECT_EQ(second.get_errno(), ENOENT);
    sdbusplus::exception::SdBusError third(EINVAL, "third");
    third = std::move(second);
    EXPECT_EQ(third.what(), text);
    EXPECT_STREQ(third.get_error()->name,
                 "org.freedesktop.DBus.Error.FileNotFound");
    static_assert(
        !std::is_copy_constructible_v<sdbusplus::exception::SdBusError>);
}

TEST(SdBusError, OtherErrorsOfTheBindings)
{
    sdbusplus::exception::InvalidEnumString e;
    EXPECT_EQ(e.get_errno(), EINVAL);
    EXPECT_STREQ(e.name(),
                 "xyz.openbmc_project.sdbusplus.Error.InvalidEnumString");
    const sdbusplus::exception_t& base = e;
    EXPECT_EQ(std::string(base.what()).rfind(e.name(), 0), 0u);
}

} // namespace
