#include "app/FailureNotice.h"

#include <winsock2.h>
#include <windows.h>

#include <climits>

#include <curl/curl.h>

#include "Http/HttpCommand.h"
#include "Http/HttpDownloadFile.h"
#include "Updater/UpdateModule.h"

namespace {

enum class Stage { kAny, kManifest, kDownload };

// A local failure whose cause the free space decides.
const int kLocal = -1;

struct Row {
    Stage stage;
    int errType;
    int firstCode;
    int lastCode;
    int kind;  // a NoticeKind, or kLocal
};

// First match wins; no match is the network's.
const Row kRows[] = {
    // The module could not make its window or bring its channels up: this
    // machine's fault, not the network's.
    {Stage::kAny, ERR_USER, UM_ERR_HELPER_WINDOW, UM_ERR_CHANNELS, static_cast<int>(NoticeKind::kSystem)},
    {Stage::kAny, ERR_USER, HTTP_ERR_PROXY_AUTH, HTTP_ERR_PROXY_AUTH, static_cast<int>(NoticeKind::kProxyAuth)},
    {Stage::kDownload, ERR_USER, UM_ERR_PACKAGE_CHECK, UM_ERR_PACKAGE_CHECK,
     static_cast<int>(NoticeKind::kPackageCheck)},
    {Stage::kDownload, ERR_USER, UM_ERR_PACKAGE_SIGNATURE, UM_ERR_PACKAGE_SIGNATURE,
     static_cast<int>(NoticeKind::kPackageCheck)},
    {Stage::kDownload, ERR_USER, UM_ERR_PACKAGE_RELEASE, UM_ERR_PACKAGE_RELEASE,
     static_cast<int>(NoticeKind::kPackageCheck)},
    // A signed manifest of a release this build refuses: the server would
    // send the same again, as with a package that fails its check.
    {Stage::kManifest, ERR_USER, UM_ERR_RELEASE_VERSION, UM_ERR_RELEASE_INCOMPLETE,
     static_cast<int>(NoticeKind::kPackageCheck)},
    // The old package is held by another program: no amount of space helps.
    {Stage::kDownload, ERR_USER, UM_ERR_REPLACE, UM_ERR_REPLACE, static_cast<int>(NoticeKind::kDiskUnwritable)},
    {Stage::kDownload, ERR_USER, DOWNLOAD_ERR_NOT_OPEN, DOWNLOAD_ERR_NOT_OPEN, kLocal},
    {Stage::kDownload, ERR_SYS, ERROR_HANDLE_DISK_FULL, ERROR_HANDLE_DISK_FULL, static_cast<int>(NoticeKind::kDiskFull)},
    {Stage::kDownload, ERR_SYS, ERROR_DISK_FULL, ERROR_DISK_FULL, static_cast<int>(NoticeKind::kDiskFull)},
    // Every other system error of a download comes from its file (2020: it
    // cannot be opened).
    {Stage::kDownload, ERR_SYS, INT_MIN, INT_MAX, kLocal},
    {Stage::kDownload, ERR_CURL, CURLE_WRITE_ERROR, CURLE_WRITE_ERROR, kLocal},
};

bool StageMatches(Stage row, FailureStage stage)
{
    if (row == Stage::kAny)
        return true;
    return row == (stage == FailureStage::kManifest ? Stage::kManifest : Stage::kDownload);
}

}  // namespace

NoticeKind ClassifyFailure(const FailureFacts& facts)
{
    for (const Row& row : kRows) {
        if (!StageMatches(row.stage, facts.stage) || row.errType != facts.errType || facts.code < row.firstCode ||
            facts.code > row.lastCode)
            continue;
        if (row.kind != kLocal)
            return static_cast<NoticeKind>(row.kind);
        return facts.freeKnown && facts.freeBytes < facts.neededBytes ? NoticeKind::kDiskFull
                                                                       : NoticeKind::kDiskUnwritable;
    }
    return NoticeKind::kNetwork;
}

const wchar_t* NoticeText(NoticeKind kind)
{
    switch (kind) {
    case NoticeKind::kNetwork: return L"安装失败，请检查网络后重试！";
    case NoticeKind::kDiskFull: return L"磁盘空间不足，请清理后重试！";
    case NoticeKind::kDiskUnwritable: return L"无法写入磁盘，请检查后重试！";
    case NoticeKind::kPackageCheck: return L"安装包校验失败，请稍后重试！";
    case NoticeKind::kProxyAuth: return L"代理服务器需要验证，请检查代理设置！";
    case NoticeKind::kSystem: return L"安装程序出错，请重新运行！";
    case NoticeKind::kPackageStart: return L"安装包无法启动，请重新安装！";
    case NoticeKind::kLauncherStart: return L"无法启动澄岳，请重新安装！";
    case NoticeKind::kInstalling: return L"正在安装，请稍候！";
    case NoticeKind::kLicencePage: return L"无法打开许可协议页面！";
    }
    return L"安装失败，请检查网络后重试！";
}
