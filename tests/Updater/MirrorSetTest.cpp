// Which package address is asked next, and which failures count against it.

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <sstream>

#include "Http/HttpCommand.h"
#include "Updater/MirrorSet.h"

TEST(MirrorSet, RoundsLeftAddressesAndWhatCounts)
{
    // The number of addresses, then steps: "rN" a round starts at N ("rN!":
    // all were taken back first), "fA>N" A fails and N is next ("-": none).
    const char* const cases[] = {
        "1 r0 f0>- r0 f0>- r0! f0>- r0",       // as before mirrors: one try a round, never gone
        "3 r0 f0>1 f1>2 f2>- r0 f0>1",         // all fail: the next round from the top
        "3 r0 f0>1 f1>2 r0 f0>1 r1 f1>2 r2",   // left after two failed rounds
        "2 r0 f0>1 f0>1 r0 f0>1 r1",           // two reports in one round are one failed round
    };
    for (const char* c : cases) {
        std::istringstream steps(c);
        size_t count = 0;
        steps >> count;
        MirrorSet set;
        set.Reset(std::vector<std::wstring>(count, L"http://m/p.exe"));
        for (std::string s; steps >> s;) {
            const auto at = [&s](size_t i) { return s[i] == '-' ? MirrorSet::npos : static_cast<size_t>(s[i] - '0'); };
            bool tookBack = false;
            if (s[0] == 'f')
                set.Fail(at(1));
            const size_t next = s[0] == 'r' ? set.BeginRound(&tookBack) : set.Pick();
            EXPECT_EQ(next, at(s[0] == 'r' ? 1 : 3)) << c << " at " << s;
            EXPECT_EQ(tookBack, s.back() == '!') << c << " at " << s;
        }
    }
    // Only what another server could do better counts, and as what it was.
    const struct {
        int type, code;
        MirrorFault fault;
    } faults[] = {{ERR_CURL, CURLE_WRITE_ERROR, MirrorFault::kNone}, {ERR_SYS, 112, MirrorFault::kNone},
                  {ERR_USER, HTTP_ERR_PROXY_AUTH, MirrorFault::kNone}, {ERR_HTTP, 410, MirrorFault::kNotFound},
                  {ERR_HTTP, 403, MirrorFault::kRefused}};
    for (const auto& f : faults)
        EXPECT_EQ(ClassifyMirrorFault(f.type, f.code), f.fault) << f.code;
}
