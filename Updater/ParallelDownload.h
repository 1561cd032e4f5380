#pragma once
// The package download, over several connections when the server allows it.
//
// With the size known and enough of the file missing, the missing bytes are
// cut into parts (RangePlan.h), each fetched as a closed range on the
// download channel and written at its own offset into the one temporary
// file (HttpRangePart.h). The first part goes alone, asking for the whole
// first hole. Only when the server answers it with a 206 for exactly that
// range, and the rest would take that one connection more than a second, is
// it split along the plan: the file set to its full size, the journal
// written, the other parts started. On a fast line one connection is as
// fast, and its file stays written in order as before parts existed. A part that fails is
// retried on its own (its own transport retries, then another healthy
// address of the MirrorSet); a part that finishes while others run takes
// the second half of the slowest one. A server that answers a closed range
// with a 200 or another range gets no more parts; when no address is left
// that serves them, parallel fetching ends for the rest of the run: the
// file is cut back to its contiguous prefix and one connection
// (CHttpDownloadFile, exactly as before parts existed) goes on from there.
// A small package, an unknown size, or a file nearly complete is always
// fetched over that one connection.
//
// The journal ("<file>.parts", the installer's own descriptor) records which
// ranges of the file are complete, bound to the release's size and checksum
// and checksummed itself. A restart resumes those ranges, with however many
// parts the rest now needs. A journal that does not hold (damaged, another
// release, a file of another length) says the file's bytes cannot be placed:
// it starts again from zero. No journal means a file written in order, whose
// length is its contiguous prefix, as always. The journal goes when the file
// is complete. Nothing in it is trusted beyond placing bytes: the finished
// file is still checked whole against its signature and checksum.
//
// Threads: UI thread only (construction, every operation, all callbacks).
// Ownership: owns its single-connection request, its parts, the shared file
// and the journal; the MirrorSet is the caller's and must outlive a run.

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Http/HttpDownloadFile.h"
#include "Http/HttpRangePart.h"
#include "Http/RangePlan.h"

class MirrorSet;

class ParallelDownload : private RangePartOwner {
public:
    // Connections at most; parts of at least kMinPartBytes (a package of up
    // to twice that stays one request); a running part is split for an idle
    // connection while at least twice kMinStealBytes of it are left.
    static const size_t kMaxParts = 4;
    static const uint64_t kMinPartBytes = 4ull << 20;
    static const uint64_t kMinStealBytes = 1ull << 20;
    // Progress at most this often; the journal at most this often while
    // parts run (and whenever a part ends).
    static const DWORD kProgressEveryMs = 100;
    static const DWORD kJournalEveryMs = 1000;
    // The probe is judged at kProbeMs and then at every progress tick: split
    // only when the rest would take one connection longer than
    // kOneConnectionMs at its rate (more connections cost a round trip each,
    // and gain nothing then).
    static const DWORD kProbeMs = 150;
    static const uint64_t kOneConnectionMs = 1000;

    ParallelDownload();
    ~ParallelDownload();

    // Like CHttpDownloadFile::Download, with the release's checksum (binds
    // the journal) and the addresses parts may use (null: `url` only).
    bool Download(const std::wstring& url, const std::wstring& localPath, uint64_t expectedSize,
                  const std::wstring& md5, MirrorSet* mirrors, uintptr_t userData, DownloadDoneCallback done,
                  DownloadProgressCallback progress);
    // Starts again with the values of the last Download (a retry, another
    // address): decides afresh between parts and one connection.
    bool Resubmit();
    // Ends the run without a callback; the parts already written stay
    // recorded for the next run.
    void Stop();
    bool IsRunning() const { return active_ || single_.IsRunning(); }

    const std::wstring& Url() const { return url_; }
    void SetUrl(const std::wstring& url);
    const std::wstring& LocalPath() const { return localPath_; }
    void ResetAttempts();
    std::wstring JournalPath() const { return localPath_ + L".parts"; }
    // For diagnostics and tests: the run fetches in parts, and may do so.
    bool InParts() const { return active_; }
    bool RangesRefused() const { return rangesRefused_; }

private:
    enum class Journal { kMissing, kValid, kInvalid };

    bool Begin();
    bool StartSingle();
    bool StartParts(const RangeSet& done);
    // The first closed range was served: full length, journal, first report.
    // False (the run reported as failed) when the file cannot be sized.
    bool Prepare();
    // At a progress tick while the probe runs alone: splits it along the
    // plan when the rest would take it long.
    void ConsiderSplit();
    // The one-shot thread timer that judges the probe at kProbeMs.
    static std::map<UINT_PTR, ParallelDownload*>& ProbeTimers();
    static void CALLBACK ProbeTimerProc(HWND hwnd, UINT message, UINT_PTR id, DWORD time);
    void EndProbeTimer();
    Journal LoadJournal(RangeSet& done) const;
    void WriteJournal();
    void DeleteJournal();
    // The ranges on disk: those complete, and what each running part wrote.
    RangeSet Snapshot() const;
    uint64_t Completed() const;
    // Gives idle parts the next planned ranges (only the first until the
    // server has shown it serves them), then, with none left, halves of the
    // slowest parts.
    void FillParts();
    bool StealFor(CHttpRangePart* idle);
    void Launch(CHttpRangePart* part, const CRefPtr<RangePartState>& state);
    // The address for a part: the one in use for the first, then the other
    // healthy ones in turn. False when no address is healthy.
    bool PickMirror(size_t slot, size_t& mirror, std::wstring& url) const;
    void StopParts();
    void Report(bool force);
    void Finish(int errType, int code);
    void FallBackToOneConnection();

    void OnPartAnswered(CHttpRangePart* part) override;
    void OnRangesRefused(CHttpRangePart* part) override;
    void OnPartDone(CHttpRangePart* part, int errType, int code) override;
    void OnPartTick() override;

    static void SingleDone(uintptr_t self, int errType, int code);
    static void SingleProgress(uintptr_t self, uint64_t total, uint64_t completed, uint32_t speed);

    CHttpDownloadFile single_;
    std::vector<std::unique_ptr<CHttpRangePart>> parts_;
    std::deque<ByteRange> pending_;
    RangeSet done_;
    CRefPtr<RangeFile> file_;
    std::wstring url_;
    std::wstring localPath_;
    std::string md5_;
    uint64_t expected_ = 0;
    MirrorSet* mirrors_ = nullptr;
    uintptr_t userData_ = 0;
    DownloadDoneCallback done_cb_ = nullptr;
    DownloadProgressCallback progress_cb_ = nullptr;
    bool active_ = false;
    // This run: the server served a closed range as asked (all parts may
    // start at once), or refused one (one connection from now on).
    bool confirmed_ = false;
    bool rangesRefused_ = false;
    // Addresses (MirrorSet indices) that answered a closed range otherwise
    // than asked: they get no more parts in this run.
    std::set<size_t> rangeless_;
    bool journalPrepared_ = false;
    // This start: the file has its full length and a journal.
    bool prepared_ = false;
    // This start continues a journalled file (holes, full length).
    bool resumed_ = false;
    // This start: parts beyond the probe may run.
    bool split_ = false;
    DWORD probeStart_ = 0;
    UINT_PTR probeTimer_ = 0;
    DWORD lastReport_ = 0;
    DWORD lastJournal_ = 0;
    struct Sample {
        DWORD tick;
        uint64_t completed;
    };
    std::deque<Sample> samples_;

    ParallelDownload(const ParallelDownload&) = delete;
    ParallelDownload& operator=(const ParallelDownload&) = delete;
};
