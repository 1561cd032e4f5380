// What the install window says about a failure and how long it waits before
// trying again: the result table and the retry schedule, on their own.

#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <set>
#include <string>

#include <curl/curl.h>

#include "Http/HttpDownloadFile.h"
#include "Updater/UpdateModule.h"
#include "app/FailureNotice.h"
#include "app/RetrySchedule.h"

namespace {

const uint64_t kMB = 1024 * 1024;

FailureFacts Facts(FailureStage stage, int type, int code, bool freeKnown = false, uint64_t freeBytes = 0,
                   uint64_t needed = 10 * kMB)
{
    FailureFacts f;
    f.stage = stage;
    f.errType = type;
    f.code = code;
    f.freeKnown = freeKnown;
    f.freeBytes = freeBytes;
    f.neededBytes = needed;
    return f;
}

}  // namespace

TEST(FailureNotice, EachResultGetsTheNoticeThatNamesItsCause)
{
    const FailureStage M = FailureStage::kManifest, D = FailureStage::kDownload;
    const bool known = true;
    struct Case {
        const char* what;
        FailureFacts facts;
        NoticeKind kind;
    } cases[] = {
        {"404", Facts(D, ERR_HTTP, 404), NoticeKind::kNetwork},
        {"time-out", Facts(D, ERR_CURL, CURLE_OPERATION_TIMEDOUT), NoticeKind::kNetwork},
        {"wrong length", Facts(D, ERR_USER, DOWNLOAD_ERR_LENGTH_MISMATCH), NoticeKind::kNetwork},
        {"manifest refused", Facts(M, ERR_CURL, CURLE_COULDNT_CONNECT), NoticeKind::kNetwork},
        // The manifest lands in memory: a write error there is no disk's.
        {"manifest write", Facts(M, ERR_CURL, CURLE_WRITE_ERROR, known, 0), NoticeKind::kNetwork},
        {"checksum", Facts(D, ERR_USER, UM_ERR_PACKAGE_CHECK), NoticeKind::kPackageCheck},
        {"signature", Facts(D, ERR_USER, UM_ERR_PACKAGE_SIGNATURE), NoticeKind::kPackageCheck},
        {"package of another release", Facts(D, ERR_USER, UM_ERR_PACKAGE_RELEASE), NoticeKind::kPackageCheck},
        {"release below the floor", Facts(M, ERR_USER, UM_ERR_RELEASE_VERSION), NoticeKind::kPackageCheck},
        {"incomplete release", Facts(M, ERR_USER, UM_ERR_RELEASE_INCOMPLETE), NoticeKind::kPackageCheck},
        // A manifest that fails its signature: the endpoint's answer was wrong.
        {"manifest signature", Facts(M, ERR_USER, UM_ERR_MANIFEST_SIGNATURE), NoticeKind::kNetwork},
        {"checksum code from the manifest", Facts(M, ERR_USER, UM_ERR_PACKAGE_CHECK), NoticeKind::kNetwork},
        {"helper window", Facts(M, ERR_USER, UM_ERR_HELPER_WINDOW), NoticeKind::kSystem},
        {"channels", Facts(M, ERR_USER, UM_ERR_CHANNELS), NoticeKind::kSystem},
        {"proxy credentials, manifest", Facts(M, ERR_USER, HTTP_ERR_PROXY_AUTH), NoticeKind::kProxyAuth},
        {"proxy credentials, package", Facts(D, ERR_USER, HTTP_ERR_PROXY_AUTH, known, 0), NoticeKind::kProxyAuth},
        // The system said so itself.
        {"disk full", Facts(D, ERR_SYS, ERROR_DISK_FULL, known, 500 * kMB), NoticeKind::kDiskFull},
        {"handle disk full", Facts(D, ERR_SYS, ERROR_HANDLE_DISK_FULL), NoticeKind::kDiskFull},
        // Old package held by another program: space does not matter.
        {"replace", Facts(D, ERR_USER, UM_ERR_REPLACE, known, 0), NoticeKind::kDiskUnwritable},
        // Local failures whose cause the free space decides.
        {"open, space", Facts(D, ERR_SYS, DOWNLOAD_ERR_OPEN, known, 500 * kMB), NoticeKind::kDiskUnwritable},
        {"open, no space", Facts(D, ERR_SYS, DOWNLOAD_ERR_OPEN, known, 1 * kMB), NoticeKind::kDiskFull},
        {"open, space unknown", Facts(D, ERR_SYS, DOWNLOAD_ERR_OPEN), NoticeKind::kDiskUnwritable},
        {"access denied", Facts(D, ERR_SYS, ERROR_ACCESS_DENIED, known, 500 * kMB), NoticeKind::kDiskUnwritable},
        {"curl write, no space", Facts(D, ERR_CURL, CURLE_WRITE_ERROR, known, 0), NoticeKind::kDiskFull},
        {"curl write, just enough", Facts(D, ERR_CURL, CURLE_WRITE_ERROR, known, 10 * kMB), NoticeKind::kDiskUnwritable},
        {"closed file", Facts(D, ERR_USER, DOWNLOAD_ERR_NOT_OPEN, known, 0), NoticeKind::kDiskFull},
    };
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<int>(c.kind), static_cast<int>(ClassifyFailure(c.facts))) << c.what;
}

TEST(FailureNotice, EveryKindHasItsOwnText)
{
    EXPECT_STREQ(L"安装失败，请检查网络后重试！", NoticeText(NoticeKind::kNetwork));
    const NoticeKind kinds[] = {NoticeKind::kNetwork,      NoticeKind::kDiskFull,     NoticeKind::kDiskUnwritable,
                                NoticeKind::kPackageCheck, NoticeKind::kSystem,       NoticeKind::kPackageStart,
                                NoticeKind::kLauncherStart, NoticeKind::kInstalling,   NoticeKind::kLicencePage,
                                NoticeKind::kProxyAuth};
    std::set<std::wstring> texts;
    for (NoticeKind k : kinds)
        texts.insert(NoticeText(k));
    EXPECT_EQ(sizeof(kinds) / sizeof(kinds[0]), texts.size());
}

TEST(RetrySchedule, ThreeQuickRetriesThenDoublingUpToTwoMinutes)
{
    struct Case {
        int failures;
        unsigned ms;  // with no jitter
    } cases[] = {{0, 5000}, {1, 5000}, {2, 5000}, {3, 5000}, {4, 10000}, {5, 20000},
                 {6, 40000}, {7, 80000}, {8, 120000}, {9, 120000}, {1000000, 120000}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.ms, RetryDelayMs(c.failures, RetryKind::kOrdinary, 0)) << c.failures;
        // The quick retries keep their 5 s; the longer waits lose at most a tenth.
        const unsigned most = RetryDelayMs(c.failures, RetryKind::kOrdinary, 999);
        const unsigned wrapped = RetryDelayMs(c.failures, RetryKind::kOrdinary, 0xFFFFFFFFu);
        for (unsigned got : {most, wrapped}) {
            EXPECT_LE(got, c.ms) << c.failures;
            EXPECT_GE(got, c.ms == 5000 ? 5000 : c.ms - c.ms / 10) << c.failures;
        }
        if (c.ms > 5000) {
            EXPECT_LT(most, c.ms) << "jitter takes something off";
        }
    }
}

TEST(RetrySchedule, APackageThatFailsItsCheckBacksOffAtOnce)
{
    EXPECT_EQ(10000u, RetryDelayMs(1, RetryKind::kPackageCheck, 0));
    EXPECT_EQ(20000u, RetryDelayMs(2, RetryKind::kPackageCheck, 0));
    EXPECT_EQ(120000u, RetryDelayMs(5, RetryKind::kPackageCheck, 0));
    // Whatever the jitter, five downloads of a package that always fails its
    // check take more than three minutes of waiting before the sixth.
    for (uint32_t random : {0u, 500u, 999u}) {
        unsigned waited = 0;
        for (int failure = 1; failure <= 5; ++failure)
            waited += RetryDelayMs(failure, RetryKind::kPackageCheck, random);
        EXPECT_GT(waited, 180000u) << random;
    }
}
