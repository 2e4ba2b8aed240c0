#include "discovery.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(DiscoveryRules, LocalPortsSplitByExactCase) {
    const LocalTargets t =
        SplitLocalPorts({"LPT1:", "lpt9:", "USB001", "XUSBY", "COM1:", "usb002", ""});
    EXPECT_EQ(t.lpt, "LPT1:\0\0"s);
    EXPECT_EQ(t.usb, "USB001\0XUSBY\0\0"s);
    EXPECT_TRUE(t.HasLpt());
    const LocalTargets none = SplitLocalPorts({"COM1:", "FILE:"});
    EXPECT_EQ(none.lpt, "\0"s);
    EXPECT_FALSE(none.HasLpt());
    EXPECT_FALSE(none.HasUsb());
}

TEST(DiscoveryRules, TimeOuts) {
    struct Case {
        int kind;
        const char *label;
        uint32_t ms;
    } cases[] = {{0, "LPT", 5000},     {0, "lpt", 5000},   {0, "USB", 40000},  {1, "LPT", 40000},
                 {1, "TCP/IP", 40000}, {0, "LPT1", 40000}, {0, nullptr, 40000}};
    for (const Case &c : cases)
        EXPECT_EQ(DiscoveryTimeoutMs(c.kind, c.label), c.ms)
            << c.kind << " " << (c.label ? c.label : "null");
}

TEST(DiscoveryRules, ScopeForms) {
    struct Case {
        std::string saved;
        std::vector<std::string> entries;
        std::string multiSz;
    } cases[] = {
        {"/a//b/", {"a", "b"}, "a\0b\0\0"s},
        {"127.0.0.201:4001/127.0.0.202:4002",
         {"127.0.0.201:4001", "127.0.0.202:4002"},
         "127.0.0.201:4001\0"
         "127.0.0.202:4002\0\0"s},
        {"", {}, "\0"s},
        {"//", {}, "\0"s},
        {"255.255.255.255", {"255.255.255.255"}, "255.255.255.255\0\0"s},
        {"a\0/b"s, {"a"}, "a\0\0"s},
    };
    for (const Case &c : cases) {
        const std::vector<std::string> entries = SplitScopes(c.saved);
        EXPECT_EQ(entries, c.entries) << c.saved;
        EXPECT_EQ(ScopesMultiSz(entries), c.multiSz) << c.saved;
    }
    EXPECT_EQ(JoinScopes({"a", "", "b"}), "a/b");
    EXPECT_EQ(JoinScopes({}), "");
    EXPECT_TRUE(HasScope({"10.0.0.1", "Printer"}, "Printer"));
    EXPECT_FALSE(HasScope({"10.0.0.1", "Printer"}, "printer"));
}
