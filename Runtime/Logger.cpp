#include "Runtime/Logger.h"

#include <ctime>
#include <cwchar>
#include <vector>

#include "Runtime/CriticalSectionGuard.h"
#include "Runtime/TextUtil.h"

namespace {

// Appends `piece` only when its formatting produced at least one character.
void AppendPiece(std::wstring& line, const wchar_t* piece, int written)
{
    if (written > 0)
        line.append(piece, static_cast<size_t>(written));
}

}  // namespace

BaseLogger::BaseLogger()
{
    InitializeCriticalSection(&lock_);
}

BaseLogger::~BaseLogger()
{
    config_.reset();
    DeleteCriticalSection(&lock_);
}

void BaseLogger::SetConfig(std::unique_ptr<LoggerConfig> config)
{
    const CriticalSectionGuard guard(&lock_);
    config_ = std::move(config);
}

void BaseLogger::Log(int level, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    Emit(level, 0, nullptr, format, args);
    va_end(args);
}

void BaseLogger::LogEx(int level, int line, const wchar_t* file, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    // An absent file name still marks a located line; it prints as empty.
    Emit(level, line, file ? file : L"", format, args);
    va_end(args);
}

void BaseLogger::Emit(int level, int line, const wchar_t* file, const wchar_t* format, va_list args)
{
    const CriticalSectionGuard guard(&lock_);
    ++depth_;
    if (IsEnabled()) {
        std::wstring text = BuildLine(level, line, file, format, args);
        Write(text);
    }
    --depth_;
}

std::wstring BaseLogger::BuildLine(int level, int line, const wchar_t* file, const wchar_t* format,
                                   va_list args) const
{
    std::wstring out;
    wchar_t buf[64];

    static const wchar_t* const kTags[] = {L"INFO", L"WARN", L"ERRO"};
    if (level >= 0 && level <= 2)
        AppendPiece(out, buf, _snwprintf(buf, 63, L"[%4s]", kTags[level]));

    const unsigned char flags = config_ ? config_->flags : 0;
    if (flags & LoggerConfig::kTime) {
        time_t now = time(nullptr);
        struct tm local;
        wchar_t stamp[32];
        if (localtime_s(&local, &now) == 0)
            AppendPiece(out, stamp, static_cast<int>(wcsftime(stamp, 32, L"[%Y-%m-%d %H:%M:%S]", &local)));
    }
    if (flags & LoggerConfig::kProcessId)
        AppendPiece(out, buf, _snwprintf(buf, 63, L"[pid:%d]", static_cast<int>(GetCurrentProcessId())));
    if (flags & LoggerConfig::kThreadId)
        AppendPiece(out, buf, _snwprintf(buf, 63, L"[tid:%d]", static_cast<int>(GetCurrentThreadId())));

    if (file) {
        // The location piece holds at most 2047 characters; a longer one is cut.
        std::vector<wchar_t> loc(2048);
        int n = _snwprintf(loc.data(), 2047, L"[%s:%d]", file, line);
        if (n < 0)
            n = 2047;
        AppendPiece(out, loc.data(), n);
    }

    out += VFormat(format, args);
    if (config_ && config_->newline)
        out += L"\r\n";
    return out;
}

// --- TraceLogger -------------------------------------------------------------

TraceLogger::~TraceLogger() = default;

void TraceLogger::Write(const std::wstring& text)
{
    if (!IsEnabled())
        return;
    OutputDebugStringW(text.c_str());
}

bool TraceLogger::IsEnabled()
{
    return Config() != nullptr;
}

// --- FileLogger ----------------------------------------------------------------

FileLogger::FileLogger()
{
    // Support switch: off unless the variable names a file we can open.
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableW(L"OV_LOG_FILE", path, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2)
        return;
    ownStream_ = _wfopen(path, L"ab");
    if (!ownStream_)
        return;
    auto config = std::make_unique<LoggerConfig>();
    config->flags = LoggerConfig::kTime | LoggerConfig::kProcessId | LoggerConfig::kThreadId;
    config->newline = true;
    SetConfig(std::move(config));
    stream_ = ownStream_;
}

FileLogger::~FileLogger()
{
    if (ownStream_)
        fclose(ownStream_);
}

void FileLogger::SetStream(FILE* stream)
{
    stream_ = stream;
}

void FileLogger::Write(const std::wstring& text)
{
    if (!IsEnabled() || text.empty())
        return;
    // Raw UTF-16LE code units as one item; output errors are not reported.
    fwrite(text.data(), text.size() * sizeof(wchar_t), 1, stream_);
    fflush(stream_);
}

bool FileLogger::IsEnabled()
{
    return Config() != nullptr && stream_ != nullptr;
}

// --- ConsoleLogger -------------------------------------------------------------

ConsoleLogger::~ConsoleLogger() = default;

void ConsoleLogger::Write(const std::wstring& text)
{
    if (!IsEnabled())
        return;
    DWORD written = 0;
    WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), text.c_str(), static_cast<DWORD>(text.size()), &written,
                  nullptr);
}

bool ConsoleLogger::IsEnabled()
{
    return Config() != nullptr && consoleReady_;
}
