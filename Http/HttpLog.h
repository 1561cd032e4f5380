#pragma once
// Log statements of the transfer engine. Besides the common pair (debugger
// output + file, OV_LOG), some sites write to the console and the file logger,
// and some log at one level to the debugger output and another to the file.
// All loggers stay silent until configured, so these cost one check each.

#include "Runtime/Logger.h"

// Console logger and file logger, same level, each with its source position.
#define HTTP_LOG_CF(level, file, ...)                                                     \
    do {                                                                                   \
        CSingleton<ConsoleLogger>::Instance().LogEx((level), __LINE__, (file), __VA_ARGS__); \
        CSingleton<FileLogger>::Instance().LogEx((level), __LINE__, (file), __VA_ARGS__);    \
    } while (0)

// File logger only.
#define HTTP_LOG_F(level, file, ...) CSingleton<FileLogger>::Instance().LogEx((level), __LINE__, (file), __VA_ARGS__)

// Debugger output at one level, file logger at another.
#define HTTP_LOG_TF(traceLevel, fileLevel, file, ...)                                      \
    do {                                                                                   \
        CSingleton<TraceLogger>::Instance().Log((traceLevel), __VA_ARGS__);                \
        CSingleton<FileLogger>::Instance().LogEx((fileLevel), __LINE__, (file), __VA_ARGS__); \
    } while (0)
