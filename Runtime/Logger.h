#pragma once
// Loggers shared by every subsystem: debugger output, a UTF-16 file stream and
// the process console. Each is a process-wide singleton that stays silent until
// a LoggerConfig is attached (and, for file and console, its output is ready).
//
// The product attaches nothing, so all logging is off by default. For support
// and for end-to-end tests the file logger turns itself on when the environment
// variable OV_LOG_FILE names a file: it then appends UTF-16LE lines with time,
// process and thread stamps to that file.
//
// Threads: any thread may log; each logger serialises its calls with its own
// recursive lock.

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

#include "Runtime/Singleton.h"

enum LogLevel { LOG_INFO = 0, LOG_WARN = 1, LOG_ERROR = 2 };

struct LoggerConfig {
    enum : unsigned char { kTime = 0x02, kProcessId = 0x04, kThreadId = 0x08 };
    unsigned char flags = 0;
    bool newline = false;
};

class BaseLogger {
public:
    BaseLogger();
    virtual ~BaseLogger();

    virtual void Log(int level, const wchar_t* format, ...);
    virtual void LogEx(int level, int line, const wchar_t* file, const wchar_t* format, ...);

    // Replaces the configuration (null detaches).
    void SetConfig(std::unique_ptr<LoggerConfig> config);
    const LoggerConfig* Config() const { return config_.get(); }
    // How many calls are inside the lock right now; 0 whenever no call runs.
    long Depth() const { return depth_; }

    // Builds the line exactly as Log/LogEx would, without the enabled check and
    // without writing it. `file` null means no source location (Log).
    std::wstring BuildLine(int level, int line, const wchar_t* file, const wchar_t* format, va_list args) const;

protected:
    virtual void Write(const std::wstring& text) = 0;
    virtual bool IsEnabled() = 0;

private:
    void Emit(int level, int line, const wchar_t* file, const wchar_t* format, va_list args);

    std::unique_ptr<LoggerConfig> config_;
    CRITICAL_SECTION lock_;
    long depth_ = 0;

    BaseLogger(const BaseLogger&) = delete;
    BaseLogger& operator=(const BaseLogger&) = delete;
};

class TraceLogger : public BaseLogger {
public:
    ~TraceLogger() override;

protected:
    void Write(const std::wstring& text) override;
    bool IsEnabled() override;
};

class FileLogger : public BaseLogger {
public:
    FileLogger();
    ~FileLogger() override;

    // The stream is not owned: the caller opens and closes it. Null silences the logger.
    void SetStream(FILE* stream);
    FILE* Stream() const { return stream_; }

protected:
    void Write(const std::wstring& text) override;
    bool IsEnabled() override;

private:
    FILE* stream_ = nullptr;
    FILE* ownStream_ = nullptr;  // opened from OV_LOG_FILE; closed at exit
};

class ConsoleLogger : public BaseLogger {
public:
    ~ConsoleLogger() override;
    void SetConsoleReady(bool ready) { consoleReady_ = ready; }

protected:
    void Write(const std::wstring& text) override;
    bool IsEnabled() override;

private:
    bool consoleReady_ = false;
};

// The call-site convention: one statement goes to the debugger output through
// Log and to the file logger through LogEx with its source position. `file` is
// the relative source path written in the line, for example L".\\Runtime\\SimpleThread".
#define OV_LOG_AT(level, line, file, ...)                                          \
    do {                                                                           \
        CSingleton<TraceLogger>::Instance().Log((level), __VA_ARGS__);             \
        CSingleton<FileLogger>::Instance().LogEx((level), (line), (file), __VA_ARGS__); \
    } while (0)

#define OV_LOG(level, file, ...) OV_LOG_AT(level, __LINE__, file, __VA_ARGS__)
