#pragma once
// The process context: the console and file log, the user-agent text and the file system.

#include "Engine/CorvaneReference.h"
#include "Engine/Stream.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

namespace Corvane3D {

enum eLogType : int {
    LOG_NONE = 0,
    LOG_VERBOSE = 1,
    LOG_DEBUG = 2,
    LOG_INFO = 3,
    LOG_WARN = 4,
    LOG_ERROR = 5,
    LOG_CRITICAL = 6,
};

// The 10-character file tag of a level; empty for 0 and for levels outside the table.
const char* GetLogTag(int level);
// The console colour sequence of a level.
const char* GetLogColour(int level);

// The time-stamped file log. Every line is flushed as it is written.
class CFileLog {
public:
    static constexpr size_t MaxTimeStampFormat = 63;

    ~CFileLog();

    // Cut to 63 characters.
    void SetTimeStampFormat(const char* format);
    const std::string& GetTimeStampFormat() const { return m_timeStampFormat; }

    // Takes the stream, moves to its end and writes the opening banner.
    void Open(Stream* stream);
    // Writes the closing banner and releases the stream.
    void Close();
    bool IsOpen() const { return m_stream != nullptr; }

    // One line at level 0 (no tag).
    void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // One line: "<time stamp> ", the level's tag, the text, CR LF.
    void WriteToLog(int level, const char* text);

private:
    void WriteBanner(const char* title);

    std::string m_timeStampFormat;
    Strong<Stream> m_stream;
};

// Where console commands write their answers; replaceable per caller (the remote console).
class Logger {
public:
    virtual ~Logger() = default;
    virtual void Log(int level, const char* text);
    void LogFormatted(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
};

// Receives every line the context logs (the remote console forwards them).
class ILogListener {
public:
    virtual ~ILogListener() = default;
    virtual void OnLogLine(int level, const char* text) = 0;
};

class CFileSystem;

class Context {
public:
    static constexpr const char* DefaultTimeStampFormat = "%d/%m/%Y - %X";

    Context();
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogWarn(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogCritical(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogMessage(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void LogMessageV(int level, const char* format, va_list arguments);

    CFileLog& GetFileLog() { return m_fileLog; }

    // Appends a text, preceded by one blank when the user-agent text is not empty.
    void AddUserAgent(const char* text);
    const std::string& GetUserAgent() const { return m_userAgent; }

    // The virtual file system; the context owns it.
    void SetFileSystem(std::unique_ptr<CFileSystem> fileSystem);
    CFileSystem* GetFileSystem() const { return m_fileSystem.get(); }

    // Expands the strftime pattern at the local time (cut to 63 characters), opens that file through
    // the file system for writing or creates it, and starts the file log at its end.
    // False, silently, when the file cannot be opened or created.
    bool OpenLogFile(const char* pattern);

    // Standard output unless a test points it elsewhere.
    void SetConsole(FILE* console) { m_console = console; }

    void SetLogListener(ILogListener* listener) { m_listener = listener; }

private:
    CFileLog m_fileLog;
    std::unique_ptr<CFileSystem> m_fileSystem;
    std::string m_userAgent;
    FILE* m_console = stdout;
    ILogListener* m_listener = nullptr;
};

// The process-wide record through which every Part reaches the context.
struct GlobalRecord {
    Context* m_pContext = nullptr;
};
extern GlobalRecord GGlobal;

// The context, or null before start-up built it (log calls then go nowhere).
inline Context* GetContext() { return GGlobal.m_pContext; }

} // namespace Corvane3D
