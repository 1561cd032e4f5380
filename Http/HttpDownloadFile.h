#pragma once
// File downloads: a request that stores the response body in a local file,
// resumes a partial file with an open-ended byte range when the expected size
// is known, checks the announced length against it, and reports progress
// (total, completed, speed) once a second.
//
// Threads: CHttpDownloadFile runs on the UI thread. DownloadWriteFile::Write,
// and Discard when a server does not answer for our byte range, run on the
// worker thread under the transfer's stream lock; Open, Close and the other
// Discard calls run on the UI thread while no worker can reach the stream.
// Ownership: the transfer owns the DownloadWriteFile; the file stays open
// while the transfer lives and is closed when the request lets it go.

#include <cstdint>
#include <deque>
#include <string>

#include "Http/HttpCommand.h"
#include "Runtime/BaseStream.h"
#include "Runtime/FileEx.h"

// Error codes of downloads.
enum DownloadError {
    DOWNLOAD_ERR_NOT_OPEN = 2001,         // user: a write arrived while the file was closed
    DOWNLOAD_ERR_LENGTH_MISMATCH = 2007,  // user: announced length + offset != expected size
    DOWNLOAD_ERR_OPEN = 2020,             // sys: the local file cannot be opened
};

// Output stream into the download file.
class DownloadWriteFile : public OBaseStream {
public:
    // Read and write, others may read, not inherited, create if missing and
    // never truncate.
    static const unsigned int kOpenFlags = 0xB0A2;

    DownloadWriteFile() = default;
    ~DownloadWriteFile() override = default;

    // Closes any open file, then opens `path` and moves to its end. False (with
    // error (1, 2020)) when the file cannot be opened.
    bool Open(const std::wstring& path);
    // All bytes or -1: (3, 2001) when not open, (3, 2007) when the file would
    // grow past the limit (nothing of those bytes is written), (1, system
    // error) when the file layer fails.
    int32_t Write(const void* data, uint32_t count) override;
    // The file may not grow past `bytes` (0: no limit). The download sets the
    // expected size here, so an answer longer than announced by the manifest
    // never puts a byte past it on disk.
    void SetLimit(uint64_t bytes) { limit_ = bytes; }
    // Closes the file if open and clears the error.
    void Close() override;
    // Open: cut the file to 0 bytes (the next write starts at 0). Closed:
    // delete the file at the stored path.
    void Discard() override;

    bool IsOpen() const { return file_.IsOpen(); }
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
    CFileEx file_;
    uint64_t limit_ = 0;
    uint64_t length_ = 0;  // the file's length while it is open
};

typedef void (*DownloadDoneCallback)(uintptr_t userData, int errType, int code);
typedef void (*DownloadProgressCallback)(uintptr_t userData, uint64_t total, uint64_t completed, uint32_t speed);

// Size of a file in bytes: the end of the file opened for reading, or the
// size in its directory entry when it cannot be opened; -1 when it is missing.
int64_t DownloadLocalFileSize(const std::wstring& path);

// Cuts the file at `path` back to `size` bytes (logged, not reported, when it
// cannot: the checksum of the finished file still stands guard). UI thread,
// with no stream open on the file.
void TruncateDownload(const std::wstring& path, uint64_t size);

class CHttpDownloadFile : public CHttpBase {
public:
    enum { kMaxSpeedSamples = 10 };

    // Bound to the download channel as it is now.
    CHttpDownloadFile();
    CHttpDownloadFile(CCurlWorkshop* workshop, CHttpMgr* manager);
    ~CHttpDownloadFile() override;

    // Fills in the request and submits it to the download channel. False,
    // changing nothing, while the request is running; otherwise the result of
    // the submission.
    bool Download(const std::wstring& url, const std::wstring& localPath, uint64_t expectedSize, uintptr_t userData,
                  DownloadDoneCallback done, DownloadProgressCallback progress);

    bool Start() override;
    void Stop() override;
    void Done(CURLcode code) override;
    void OnHttpCode(int status) override;
    void OnProgressTick() override;
    void AddRecvBytes(int64_t bytes) override;

    void SetLocalPath(const std::wstring& path) { localPath_ = path; }
    const std::wstring& LocalPath() const { return localPath_; }
    void SetExpectedSize(uint64_t size) { expectedSize_ = size; }
    uint64_t ExpectedSize() const { return expectedSize_; }
    void SetCallbacks(DownloadDoneCallback done, DownloadProgressCallback progress, uintptr_t userData)
    {
        doneCallback_ = done;
        progressCallback_ = progress;
        userData_ = userData;
    }
    uint64_t ContentLength() const { return contentLength_; }
    uint64_t Received() const { return received_; }

private:
    std::wstring localPath_;
    uint64_t expectedSize_ = 0;
    DownloadDoneCallback doneCallback_ = nullptr;
    DownloadProgressCallback progressCallback_ = nullptr;
    uintptr_t userData_ = 0;
    uint64_t received_ = 0;
    uint32_t sinceLastTick_ = 0;
    uint64_t contentLength_ = 0;
    // The final answer announced no length (a chunked body): progress is shown
    // against the expected size, and the file is checked once the body ended.
    bool lengthUnannounced_ = false;
    std::deque<uint32_t> speedSamples_;

    // Ends the attempt as a length mismatch, cutting the file back to `keep`
    // bytes (the body of the rejected answer may already be in it).
    void RejectAnswer(uint64_t keep);
};
