// CString and CPtrList.
#include <gtest/gtest.h>

#include <cstring>

#include "test_ids.h"
#include "test_support.h"

TEST(CString, BasicsCopyConcatenateCompare) {
    CString a("abc");
    CString b = a;
    b += "def";
    b += CString("!");
    EXPECT_STREQ(a, "abc");
    EXPECT_STREQ(b, "abcdef!");
    EXPECT_EQ(b.GetLength(), 7);
    EXPECT_TRUE(a == "abc");
    EXPECT_TRUE(a == CString("abc"));
    EXPECT_FALSE(a == "abd");
    CString n(static_cast<const char *>(nullptr));
    EXPECT_TRUE(n.IsEmpty());
    n += static_cast<const char *>(nullptr);
    EXPECT_EQ(n.GetLength(), 0);
    EXPECT_STREQ(CString("x") + "y" + CString("z"), "xyz");
}

TEST(CString, FormatSizesItsOutput) {
    struct Case {
        const char *expected;
        std::function<void(CString &)> format;
    } cases[] = {
        {"Code 536870921(0x20000009): Access Denied",
         [](CString &s) { s.Format("Code %d(0x%x): %s", 536870921, 0x20000009, "Access Denied"); }},
        {"", [](CString &s) { s.Format("%s", ""); }},
        {"%", [](CString &s) { s.Format("%%"); }},
    };
    for (auto &c : cases) {
        CString s("old text");
        c.format(s);
        EXPECT_STREQ(s, c.expected);
    }
    std::string big(5000, 'q');
    CString s;
    s.Format("[%s]", big.c_str());
    EXPECT_EQ(s.GetLength(), 5002);
}

TEST(CString, LoadStringAndBuffers) {
    CString s("stale");
    ASSERT_TRUE(s.LoadString(IDS_GREETING));
    EXPECT_STREQ(s, "Hello from the test program");
    ASSERT_TRUE(s.LoadString(IDS_LONG));
    EXPECT_EQ(s.GetLength(), 280);    // beyond any small first buffer
    EXPECT_FALSE(s.LoadString(4242)); // missing: empty and FALSE
    EXPECT_TRUE(s.IsEmpty());

    CString b("ab");
    char *p = b.GetBuffer(10);
    strcpy(p, "0123456789");
    b.ReleaseBuffer();
    EXPECT_STREQ(b, "0123456789");
    p = b.GetBuffer(0);
    p[3] = '\0';
    b.ReleaseBuffer();
    EXPECT_STREQ(b, "012");
    b.GetBuffer(5);
    b.ReleaseBuffer(2);
    EXPECT_STREQ(b, "01");
}

TEST(CPtrList, Operations) {
    int v[5] = {};
    CPtrList list(10);
    EXPECT_EQ(list.RemoveHead(), nullptr); // empty: NULL, no crash
    EXPECT_EQ(list.GetHeadPosition(), nullptr);
    EXPECT_TRUE(list.IsEmpty());
    list.AddTail(&v[1]);
    list.AddTail(&v[2]);
    list.AddHead(&v[0]);
    list.AddTail(&v[1]);
    ASSERT_EQ(list.GetCount(), 4);

    std::vector<void *> seen;
    for (POSITION pos = list.GetHeadPosition(); pos;)
        seen.push_back(list.GetNext(pos));
    EXPECT_EQ(seen, (std::vector<void *>{&v[0], &v[1], &v[2], &v[1]}));

    POSITION first = list.Find(&v[1]);
    ASSERT_NE(first, nullptr);
    POSITION second = list.Find(&v[1], first);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(list.Find(&v[1], second), nullptr);
    EXPECT_EQ(list.Find(&v[4]), nullptr);
    EXPECT_EQ(list.GetAt(second), &v[1]);

    list.RemoveAt(first);
    EXPECT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.RemoveHead(), &v[0]);
    EXPECT_EQ(list.RemoveHead(), &v[2]);
    EXPECT_EQ(list.RemoveHead(), &v[1]);
    EXPECT_EQ(list.RemoveHead(), nullptr);
    EXPECT_EQ(list.GetCount(), 0);

    list.AddTail(&v[3]);
    list.RemoveAll();
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.GetHeadPosition(), nullptr);
}
