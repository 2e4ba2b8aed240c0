// Out of memory at every allocation of an add: the add fails with 2 and the message stays as
// it was. This program replaces the global allocation functions to fail on demand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>

#include "mail_error.h"
#include "mail_message.h"
#include "message_text.h"
#include "test_util.h"

namespace {
// Allocations left before one fails; negative: none fails.
long g_allocationsLeft = -1;

void *Allocate(std::size_t size) {
    if (g_allocationsLeft == 0)
        throw std::bad_alloc();
    if (g_allocationsLeft > 0)
        --g_allocationsLeft;
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
} // namespace

void *operator new(std::size_t size) {
    return Allocate(size);
}
void *operator new[](std::size_t size) {
    return Allocate(size);
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete[](void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    std::free(p);
}

namespace {

std::string Snapshot(const CMailMessage &m) {
    return RenderMessageText(m, "Date: x") + "|" + m.BodyString();
}

// Runs `add` with the n-th allocation failing, for n = 0, 1, ... until it succeeds; every
// failure must be 2 with the message unchanged.
void EveryAllocationFails(const std::function<void(CMailMessage &)> &prepare,
                          const std::function<void(CMailMessage &)> &add, int charset) {
    for (long n = 0; n < 100000; ++n) {
        CMailMessage m(charset);
        prepare(m);
        const std::string before = Snapshot(m);
        g_allocationsLeft = n;
        const MailErrorCode code = CatchMailError([&] { add(m); });
        g_allocationsLeft = -1;
        if (code == kMailOk) {
            EXPECT_GT(n, 0) << "the add allocated nothing";
            EXPECT_NE(Snapshot(m), before);
            return;
        }
        ASSERT_EQ(code, kMailCannotAddItem) << n;
        ASSERT_EQ(Snapshot(m), before) << n;
    }
    ADD_FAILURE() << "the add never succeeded";
}

} // namespace

TEST(OutOfMemory, AddsLeaveTheMessageUnchanged) {
    const std::string body =
        mailtest::WriteFile("quenta_oom_body.txt", "line one\r\nline \x82\xa0 two\n");
    const std::string attachment =
        mailtest::WriteFile("quenta_oom_attach.bin", std::string(600, 'z'));
    auto prepare = [&](CMailMessage &m) {
        m.AddItem("a@x.test", "Old Name", kItemTo);
        m.AddItem(nullptr, "Old subject", kItemSubject);
        m.AddBodyString("buffer ", 2);
        m.AddBodyString("part", 4);
    };
    const std::string longName(120, 'n');
    for (int charset : {kCharsetUS, kCharsetJP, kCharsetEU}) {
        EveryAllocationFails(
            prepare, [&](CMailMessage &m) { m.AddItem("b@x.test", longName.c_str(), kItemTo); },
            charset);
        EveryAllocationFails(
            prepare, [&](CMailMessage &m) { m.AddItem("c@x.test", longName.c_str(), kItemCC); },
            charset);
        EveryAllocationFails(
            prepare, [&](CMailMessage &m) { m.AddItem(nullptr, longName.c_str(), kItemSubject); },
            charset);
        EveryAllocationFails(
            prepare, [&](CMailMessage &m) { m.AddItem("f@x.test", longName.c_str(), kItemFrom); },
            charset);
        EveryAllocationFails(
            prepare, [&](CMailMessage &m) { m.AddBody(body.c_str()); }, charset);
        EveryAllocationFails(
            prepare, [&](CMailMessage &m) { m.AddBodyString(longName.c_str(), 2); }, charset);
        EveryAllocationFails(
            prepare, [&](CMailMessage &m) { m.AddBodyString(longName.c_str(), 4); }, charset);
        EveryAllocationFails(
            prepare, [&](CMailMessage &m) { m.AddBodyString(longName.c_str(), 5); }, charset);
        EveryAllocationFails(
            prepare, [&](CMailMessage &m) { m.AddContent(attachment.c_str(), "a.exe"); }, charset);
    }
}
