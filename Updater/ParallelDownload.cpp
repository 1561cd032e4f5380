#include "Updater/ParallelDownload.h"

#include <algorithm>
#include <map>

#include "Http/HttpMgr.h"
#include "Runtime/FileOps.h"
#include "Runtime/FileSecurity.h"
#include "Runtime/Logger.h"
#include "Updater/MirrorSet.h"

namespace {

const wchar_t kSource[] = L".\\Updater\\ParallelDownload";
// A journal is a few hundred bytes; anything far larger is not one.
const DWORD kMaxJournalBytes = 64 * 1024;

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

bool ReadSmallFile(const std::wstring& path, std::string& bytes, bool& missing)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    missing = h == INVALID_HANDLE_VALUE && (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bytes.assign(kMaxJournalBytes, '\0');
    DWORD read = 0;
    const BOOL ok = ReadFile(h, &bytes[0], kMaxJournalBytes, &read, nullptr);
    CloseHandle(h);
    bytes.resize(ok ? read : 0);
    return ok && read < kMaxJournalBytes;
}

}  // namespace

ParallelDownload::ParallelDownload()
{
    for (size_t i = 0; i < kMaxParts; ++i)
        parts_.emplace_back(new CHttpRangePart(this, i));
}

ParallelDownload::~ParallelDownload()
{
    Stop();
}

bool ParallelDownload::Download(const std::wstring& url, const std::wstring& localPath, uint64_t expectedSize,
                                const std::wstring& md5, MirrorSet* mirrors, uintptr_t userData,
                                DownloadDoneCallback done, DownloadProgressCallback progress)
{
    if (IsRunning())
        return false;
    url_ = url;
    localPath_ = localPath;
    expected_ = expectedSize;
    md5_ = Narrow(md5);
    mirrors_ = mirrors;
    userData_ = userData;
    done_cb_ = done;
    progress_cb_ = progress;
    return Begin();
}

bool ParallelDownload::Resubmit()
{
    if (IsRunning() || localPath_.empty())
        return false;
    return Begin();
}

void ParallelDownload::SetUrl(const std::wstring& url)
{
    url_ = url;
    single_.SetUrl(url);
}

void ParallelDownload::ResetAttempts()
{
    single_.ResetAttempts();
    for (auto& part : parts_)
        part->ResetAttempts();
}

void ParallelDownload::Stop()
{
    single_.Stop();
    if (active_) {
        // What the parts wrote so far is kept for the next run.
        WriteJournal();
        StopParts();
        file_.Reset();
        active_ = false;
    }
}

bool ParallelDownload::Begin()
{
    journalPrepared_ = false;
    if (expected_ == 0 || rangesRefused_)
        return StartSingle();
    RangeSet done;
    Journal journal = LoadJournal(done);
    if (journal == Journal::kInvalid) {
        OV_LOG(LOG_ERROR, kSource, L"[PD] journal does not hold, the file starts again:%s", JournalPath().c_str());
        DeleteJournal();
        TruncateDownload(localPath_, 0);
        journal = Journal::kMissing;
        done.clear();
    }
    if (journal == Journal::kMissing) {
        const int64_t have = DownloadLocalFileSize(localPath_);
        // Complete, too long, or too little left to be worth a second
        // connection: one connection decides, as it always has.
        if (have >= static_cast<int64_t>(expected_) || expected_ - std::max<int64_t>(have, 0) <= 2 * kMinPartBytes)
            return StartSingle();
        AddRange(done, {0, static_cast<uint64_t>(std::max<int64_t>(have, 0))});
    }
    if (Missing(expected_, done).empty()) {
        DeleteJournal();
        OV_LOG(LOG_INFO, kSource, L"[PD] every part is on disk:%s", localPath_.c_str());
        if (done_cb_)
            done_cb_(userData_, 0, 0);
        return false;
    }
    resumed_ = journal == Journal::kValid;
    return StartParts(done);
}

bool ParallelDownload::StartSingle()
{
    // Parts written out of order must not be taken for a prefix: the file
    // is cut back to what is known to be contiguous.
    RangeSet done;
    const Journal journal = LoadJournal(done);
    if (journal != Journal::kMissing) {
        TruncateDownload(localPath_, journal == Journal::kValid ? ContiguousPrefix(done) : 0);
        DeleteJournal();
    }
    return single_.Download(url_, localPath_, expected_, reinterpret_cast<uintptr_t>(this), &SingleDone,
                            &SingleProgress);
}

bool ParallelDownload::StartParts(const RangeSet& done)
{
    CRefPtr<RangeFile> file(new RangeFile());
    DWORD error = 0;
    if (!file->Open(localPath_, &error)) {
        OV_LOG(LOG_ERROR, kSource, L"[PD] cannot open %s:%u", localPath_.c_str(), static_cast<unsigned>(error));
        if (done_cb_)
            done_cb_(userData_, ERR_SYS, DOWNLOAD_ERR_OPEN);
        return false;
    }
    file_ = file;
    done_ = done;
    const std::vector<ByteRange> plan = PlanParts(Missing(expected_, done_), kMaxParts, kMinPartBytes);
    pending_.assign(plan.begin(), plan.end());
    active_ = true;
    samples_.clear();
    lastReport_ = lastJournal_ = GetTickCount();
    prepared_ = false;
    OV_LOG(LOG_INFO, kSource, L"[PD] %d parts, %lld of %lld bytes on disk, ranges %s:%s", static_cast<int>(plan.size()),
           static_cast<long long>(Covered(done_)), static_cast<long long>(expected_),
           confirmed_ ? L"served" : L"to be probed", localPath_.c_str());
    // A server that has served closed ranges in this run gets every part at
    // once.
    split_ = confirmed_;
    if (confirmed_) {
        if (!Prepare())
            return false;
        FillParts();
        return true;
    }
    // Otherwise the first part probes it, asking for the whole first hole: a
    // fast line finishes on that one connection, as it always has, and a
    // slow one is split along the plan once the server has served the range
    // (ConsiderSplit).
    const ByteRange first = Missing(expected_, done_).front();
    probeStart_ = GetTickCount();
    Launch(parts_[0].get(), CRefPtr<RangePartState>(new RangePartState(first.begin, first.end)));
    // Judged once at kProbeMs (the progress ticks come only every 500 ms),
    // then again at every tick.
    probeTimer_ = SetTimer(nullptr, 0, kProbeMs, &ParallelDownload::ProbeTimerProc);
    if (probeTimer_)
        ProbeTimers()[probeTimer_] = this;
    return true;
}

std::map<UINT_PTR, ParallelDownload*>& ParallelDownload::ProbeTimers()
{
    static std::map<UINT_PTR, ParallelDownload*> timers;
    return timers;
}

void ParallelDownload::EndProbeTimer()
{
    if (!probeTimer_)
        return;
    KillTimer(nullptr, probeTimer_);
    ProbeTimers().erase(probeTimer_);
    probeTimer_ = 0;
}

void CALLBACK ParallelDownload::ProbeTimerProc(HWND, UINT, UINT_PTR id, DWORD)
{
    auto found = ProbeTimers().find(id);
    if (found == ProbeTimers().end()) {
        KillTimer(nullptr, id);
        return;
    }
    ParallelDownload* self = found->second;
    self->EndProbeTimer();
    if (self->active_ && self->confirmed_ && !self->split_)
        self->ConsiderSplit();
}

void ParallelDownload::ConsiderSplit()
{
    RangePartState* state = parts_[0]->State();
    const DWORD elapsed = GetTickCount() - probeStart_;
    if (!state || elapsed < kProbeMs)
        return;
    const RangePartState::Snapshot s = state->Read();
    const uint64_t rate = (s.pos - s.begin) * 1000 / elapsed;
    if (s.end - s.pos <= rate * kOneConnectionMs / 1000)
        return;
    if (!prepared_ && !Prepare())
        return;
    split_ = true;
    OV_LOG(LOG_INFO, kSource, L"[PD] one connection brings %lld bytes/s, %lld bytes left: split", static_cast<long long>(rate),
           static_cast<long long>(s.end - s.pos));
    // The plan's pieces of the probe's range: it keeps the first while it is
    // still inside it; past it, idle parts take halves of its rest instead.
    if (!pending_.empty() && pending_.front().begin == s.begin && state->LowerEnd(pending_.front().end)) {
        pending_.pop_front();
    } else {
        while (!pending_.empty() && pending_.front().begin < s.end)
            pending_.pop_front();
    }
    FillParts();
}

ParallelDownload::Journal ParallelDownload::LoadJournal(RangeSet& done) const
{
    std::string text;
    bool missing = false;
    if (!ReadSmallFile(JournalPath(), text, missing))
        return missing ? Journal::kMissing : Journal::kInvalid;
    RangeJournalHeader header;
    header.size = expected_;
    header.md5 = md5_;
    // Ranges of a file of any other length (deleted, replaced, cut) are not
    // this file's.
    if (!DecodeRangeJournal(text, header, done) || DownloadLocalFileSize(localPath_) != static_cast<int64_t>(expected_))
        return Journal::kInvalid;
    return Journal::kValid;
}

void ParallelDownload::WriteJournal()
{
    // Before the file has its full length its bytes are in order, and its
    // length says what it holds; a journal would not match it.
    if (!prepared_)
        return;
    lastJournal_ = GetTickCount();
    const std::wstring path = JournalPath();
    if (!journalPrepared_) {
        // The installer's own file, like the one it describes.
        if (!PrepareInstallerFile(path)) {
            OV_LOG(LOG_ERROR, kSource, L"[PD] cannot secure the journal:%u", static_cast<unsigned>(GetLastError()));
            return;
        }
        journalPrepared_ = true;
    }
    RangeJournalHeader header;
    header.size = expected_;
    header.md5 = md5_;
    const std::string text = EncodeRangeJournal(header, Snapshot());
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    DWORD written = 0;
    const bool ok = h != INVALID_HANDLE_VALUE &&
                    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && SetEndOfFile(h);
    const DWORD error = GetLastError();
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    if (!ok)
        OV_LOG(LOG_ERROR, kSource, L"[PD] journal not written:%u", static_cast<unsigned>(error));
}

void ParallelDownload::DeleteJournal()
{
    if (!DeleteFileOnce(JournalPath()))
        OV_LOG(LOG_ERROR, kSource, L"[PD] journal not deleted:%u", static_cast<unsigned>(GetLastError()));
}

RangeSet ParallelDownload::Snapshot() const
{
    RangeSet set = done_;
    for (const auto& part : parts_)
        if (RangePartState* state = part->State()) {
            const RangePartState::Snapshot s = state->Read();
            AddRange(set, {s.begin, s.pos});
        }
    return set;
}

uint64_t ParallelDownload::Completed() const
{
    uint64_t sum = Covered(done_);
    for (const auto& part : parts_)
        if (RangePartState* state = part->State()) {
            const RangePartState::Snapshot s = state->Read();
            sum += s.pos - s.begin;
        }
    return sum;
}

void ParallelDownload::FillParts()
{
    for (auto& part : parts_) {
        if (!active_)
            return;
        if (part->State())
            continue;
        if (!pending_.empty()) {
            // Until the probe is split, it runs alone.
            if (!split_ && std::any_of(parts_.begin(), parts_.end(), [](const std::unique_ptr<CHttpRangePart>& p) {
                    return p->State() != nullptr;
                }))
                return;
            const ByteRange next = pending_.front();
            pending_.pop_front();
            Launch(part.get(), CRefPtr<RangePartState>(new RangePartState(next.begin, next.end)));
        } else if (!split_ || !StealFor(part.get())) {
            return;
        }
    }
}

bool ParallelDownload::StealFor(CHttpRangePart* idle)
{
    CHttpRangePart* slowest = nullptr;
    uint64_t most = 0;
    for (const auto& part : parts_)
        if (RangePartState* state = part->State()) {
            const RangePartState::Snapshot s = state->Read();
            if (s.end - s.pos > most) {
                most = s.end - s.pos;
                slowest = part.get();
            }
        }
    if (!slowest)
        return false;
    const RangePartState::Snapshot s = slowest->State()->Read();
    const uint64_t at = StealPoint(s.pos, s.end, kMinStealBytes);
    if (at == 0 || !slowest->State()->LowerEnd(at))
        return false;
    OV_LOG(LOG_INFO, kSource, L"[PD] part %d split at %lld for part %d", static_cast<int>(slowest->Index()),
           static_cast<long long>(at), static_cast<int>(idle->Index()));
    Launch(idle, CRefPtr<RangePartState>(new RangePartState(at, s.end)));
    return true;
}

bool ParallelDownload::PickMirror(size_t slot, size_t& mirror, std::wstring& url) const
{
    if (!mirrors_ || mirrors_->Count() < 2) {
        mirror = 0;
        url = url_;
        return !mirrors_ || mirrors_->Count() == 0 || mirrors_->Healthy(0);
    }
    // The healthy addresses, from the one in use on.
    size_t current = 0;
    for (size_t i = 0; i < mirrors_->Count(); ++i)
        if (mirrors_->Url(i) == url_)
            current = i;
    std::vector<size_t> healthy;
    for (size_t k = 0; k < mirrors_->Count(); ++k) {
        const size_t i = (current + k) % mirrors_->Count();
        if (mirrors_->Healthy(i) && !rangeless_.count(i))
            healthy.push_back(i);
    }
    if (healthy.empty())
        return false;
    mirror = healthy[slot % healthy.size()];
    url = mirrors_->Url(mirror);
    return true;
}

void ParallelDownload::Launch(CHttpRangePart* part, const CRefPtr<RangePartState>& state)
{
    size_t mirror = 0;
    std::wstring url;
    if (!PickMirror(part->Index(), mirror, url)) {
        mirror = 0;
        url = url_;
    }
    part->Assign(url, file_, state, expected_, mirror);
    SubmitDownload(part);
}

void ParallelDownload::StopParts()
{
    EndProbeTimer();
    for (auto& part : parts_)
        part->Unassign();
    pending_.clear();
}

void ParallelDownload::Report(bool force)
{
    const DWORD now = GetTickCount();
    if (!force && now - lastReport_ < kProgressEveryMs)
        return;
    lastReport_ = now;
    const uint64_t completed = Completed();
    samples_.push_back({now, completed});
    if (samples_.size() > CHttpDownloadFile::kMaxSpeedSamples)
        samples_.pop_front();
    const DWORD span = now - samples_.front().tick;
    const uint32_t speed =
        span ? static_cast<uint32_t>((completed - samples_.front().completed) * 1000 / span) : 0;
    if (progress_cb_)
        progress_cb_(userData_, expected_, completed, speed);
}

void ParallelDownload::Finish(int errType, int code)
{
    if (errType == ERR_OK)
        DeleteJournal();
    else
        WriteJournal();
    // Every stream lets the file go with its part; this is the last handle.
    StopParts();
    file_.Reset();
    active_ = false;
    if (done_cb_)
        done_cb_(userData_, errType, code);
}

void ParallelDownload::FallBackToOneConnection()
{
    const RangeSet on = Snapshot();
    StopParts();
    file_.Reset();
    active_ = false;
    rangesRefused_ = true;
    done_.clear();
    // Only the prefix is known to be in place for an appending download.
    const uint64_t prefix = ContiguousPrefix(on);
    TruncateDownload(localPath_, prefix);
    DeleteJournal();
    OV_LOG(LOG_WARN, kSource, L"[PD] closed ranges not served as asked: one connection from %lld, url:%s",
           static_cast<long long>(prefix), url_.c_str());
    single_.ResetAttempts();
    StartSingle();
}

void ParallelDownload::OnPartAnswered(CHttpRangePart*)
{
    if (prepared_)
        return;
    confirmed_ = true;
    // A probe that continues a file written in order leaves it in order: it
    // needs neither the full length nor a journal until it is split. One that
    // fills a hole of a journalled file records its progress from now on.
    if (resumed_)
        Prepare();
    else
        Report(true);
}

bool ParallelDownload::Prepare()
{
    // Parts now land out of order: the file takes its full length (and keeps
    // it, which binds the journal to it), and the journal exists before the
    // first byte of a second part. The journal comes first: killed before the
    // length is set, the next run finds a journal that does not match the
    // file and starts again, rather than a full-length file without one
    // (which would look complete).
    prepared_ = true;
    WriteJournal();
    if (!file_->SetLength(expected_)) {
        Finish(ERR_SYS, DOWNLOAD_ERR_OPEN);
        return false;
    }
    Report(true);
    return true;
}

void ParallelDownload::OnRangesRefused(CHttpRangePart* part)
{
    // Among several addresses, one that does not serve closed ranges only
    // stops getting parts; the part asks another (nothing of the refused
    // answer was written). With none left, one connection as before.
    if (mirrors_ && mirrors_->Count() >= 2 && part->Mirror() < mirrors_->Count()) {
        rangeless_.insert(part->Mirror());
        size_t mirror = 0;
        std::wstring url;
        if (PickMirror(part->Index(), mirror, url)) {
            OV_LOG(LOG_WARN, kSource, L"[PD] package address serves no closed ranges, parts go elsewhere: %s",
                   mirrors_->Url(part->Mirror()).c_str());
            part->Assign(url, file_, CRefPtr<RangePartState>(part->State()), expected_, mirror);
            part->ResetAttempts();
            SubmitDownload(part);
            return;
        }
    }
    FallBackToOneConnection();
}

void ParallelDownload::OnPartDone(CHttpRangePart* part, int errType, int code)
{
    if (!active_)
        return;
    CRefPtr<RangePartState> state(part->State());
    if (errType == ERR_OK) {
        const RangePartState::Snapshot s = state->Read();
        AddRange(done_, {s.begin, s.end});
        part->Unassign();
        // The server serves closed ranges: other holes may go in parallel.
        split_ = split_ || prepared_;
        WriteJournal();
        if (Missing(expected_, done_).empty()) {
            Report(true);
            Finish(ERR_OK, 0);
            return;
        }
        FillParts();
        return;
    }
    const MirrorFault fault = ClassifyMirrorFault(errType, code);
    if (fault != MirrorFault::kNone && mirrors_ && part->Mirror() < mirrors_->Count()) {
        // That address gets no more parts this round; the part goes on from
        // where it got to at another one.
        if (mirrors_->Healthy(part->Mirror()))
            OV_LOG(LOG_WARN, kSource, L"[PD] package address failed for a part: %s (%s, %d:%d)",
                   mirrors_->Url(part->Mirror()).c_str(), MirrorFaultName(fault), errType, code);
        mirrors_->Fail(part->Mirror());
        size_t mirror = 0;
        std::wstring url;
        if (PickMirror(part->Index(), mirror, url)) {
            part->Assign(url, file_, state, expected_, mirror);
            part->ResetAttempts();
            SubmitDownload(part);
            return;
        }
    }
    Finish(errType, code);
}

void ParallelDownload::OnPartTick()
{
    if (!active_)
        return;
    Report(false);
    if (confirmed_ && !split_)
        ConsiderSplit();
    if (active_ && GetTickCount() - lastJournal_ >= kJournalEveryMs)
        WriteJournal();
}

void ParallelDownload::SingleDone(uintptr_t self, int errType, int code)
{
    ParallelDownload* me = reinterpret_cast<ParallelDownload*>(self);
    if (me->done_cb_)
        me->done_cb_(me->userData_, errType, code);
}

void ParallelDownload::SingleProgress(uintptr_t self, uint64_t total, uint64_t completed, uint32_t speed)
{
    ParallelDownload* me = reinterpret_cast<ParallelDownload*>(self);
    if (me->progress_cb_)
        me->progress_cb_(me->userData_, total, completed, speed);
}
