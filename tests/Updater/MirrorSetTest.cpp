// Which package address is asked next, and which failures count against it.

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <sstream>

#include "Http/HttpCommand.h"
#include "Updater/MirrorSet.h"
#include "Updater/UpdateModule.h"

namespace {

// Steps, separated by blanks: "rN" a new round starts at N ("rN!" and every
// address was taken back first), "fA>N" address A fails and N is picked next
// ("-": none left this round, the failure is reported).
struct Case {
    const char* name;
    int addresses;
    const char* steps;
};

const Case kCases[] = {
    // As before mirrors: one try per round, and the address never goes away.
    {"one address", 1, "r0 f0>- r0 f0>- r0! f0>- r0"},
    {"the next one takes over", 3, "r0 f0>1 f1>2"},
    {"all fail, the next round starts from the top", 3, "r0 f0>1 f1>2 f2>- r0 f0>1"},
    {"left after two failed rounds", 3, "r0 f0>1 f1>2 r0 f0>1 r1 f1>2 r2"},
    {"all left, all taken back", 2, "r0 f0>1 f1>- r0 f0>1 f1>- r0! f0>1"},
    {"two reports in one round count once", 2, "r0 f0>1 f0>1 r0 f0>1 r1"},
};

TEST(MirrorSet, RoundsAndLeftAddresses)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<std::wstring> urls;
        for (int i = 0; i < c.addresses; ++i)
            urls.push_back(L"http://m" + std::to_wstring(i) + L"/p.exe");
        MirrorSet set;
        set.Reset(urls);
        std::istringstream steps(c.steps);
        std::string step;
        while (steps >> step) {
            SCOPED_TRACE(step);
            const auto index = [](const std::string& text) {
                return text[0] == '-' ? MirrorSet::npos : static_cast<size_t>(text[0] - '0');
            };
            if (step[0] == 'r') {
                bool tookBack = false;
                EXPECT_EQ(set.BeginRound(&tookBack), index(step.substr(1)));
                EXPECT_EQ(tookBack, step.back() == '!');
            } else {
                set.Fail(index(step.substr(1)));
                EXPECT_EQ(set.Pick(), index(step.substr(step.find('>') + 1)));
            }
        }
    }
}

TEST(MirrorSet, WhatCountsAgainstAnAddress)
{
    const struct {
        int errType;
        int code;
        MirrorFault fault;
    } rows[] = {
        {ERR_CURL, CURLE_COULDNT_CONNECT, MirrorFault::kConnection},
        {ERR_CURL, CURLE_RECV_ERROR, MirrorFault::kConnection},
        {ERR_CURL, CURLE_OPERATION_TIMEDOUT, MirrorFault::kStall},
        {ERR_CURL, CURLE_WRITE_ERROR, MirrorFault::kNone},  // the local disk
        {ERR_HTTP, 500, MirrorFault::kServerError},
        {ERR_HTTP, 503, MirrorFault::kServerError},
        {ERR_HTTP, 404, MirrorFault::kNotFound},
        {ERR_HTTP, 403, MirrorFault::kRefused},
        {ERR_USER, 2007, MirrorFault::kLength},
        {ERR_USER, UM_ERR_PACKAGE_CHECK, MirrorFault::kCheck},
        {ERR_USER, UM_ERR_PACKAGE_SIGNATURE, MirrorFault::kCheck},
        {ERR_USER, UM_ERR_PACKAGE_RELEASE, MirrorFault::kCheck},
        {ERR_USER, HTTP_ERR_PROXY_AUTH, MirrorFault::kNone},
        {ERR_USER, UM_ERR_REPLACE, MirrorFault::kNone},
        {ERR_USER, UM_ERR_DIR_LINK, MirrorFault::kNone},
        {ERR_SYS, 2020, MirrorFault::kNone},
        {ERR_SYS, 112, MirrorFault::kNone},  // disk full
    };
    for (const auto& row : rows)
        EXPECT_EQ(ClassifyMirrorFault(row.errType, row.code), row.fault) << row.errType << ":" << row.code;
}

}  // namespace
