#include "Engine/Context.h"

#include "Engine/FileSystem.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace Corvane3D {

GlobalRecord GGlobal;

namespace {

constexpr const char* kRule = "------------------------------------------------------------";
constexpr const char* kConsoleReset = "\033[0;0m";

} // namespace

const char* GetLogTag(int level)
{
    static const char* const tags[] = {"", "[VERBOSE] ", "[DEBUG]   ", "[INFO]    ",
                                       "[WARN]    ", "[ERROR]   ", "[CRITICAL]"};
    // Levels from outside (the listing service) may be anything; never index past the table.
    if (level < 0 || level > LOG_CRITICAL)
        return "";
    return tags[level];
}

const char* GetLogColour(int level)
{
    switch (level) {
    case LOG_WARN: return "\033[33;1m";
    case LOG_ERROR: return "\033[31;1m";
    case LOG_CRITICAL: return "\033[37;41m";
    default: return "\033[32;1m";
    }
}

CFileLog::~CFileLog()
{
    Close();
}

void CFileLog::SetTimeStampFormat(const char* format)
{
    m_timeStampFormat.assign(format ? format : "");
    if (m_timeStampFormat.size() > MaxTimeStampFormat)
        m_timeStampFormat.resize(MaxTimeStampFormat);
}

void CFileLog::Open(Stream* stream)
{
    if (!stream)
        return;
    m_stream = stream;
    m_stream->Seek(0, SEEK_ORIGIN_END);
    WriteBanner("--------------------- Logging Started ----------------------");
    Print("Corvane %d.%d.%d", 1, 2, 0);
    Print("Platform: %s", "Linux");
    utsname name{};
    if (uname(&name) == 0)
        Print("%s %s", name.sysname, name.machine);
    else
        Print("%s %s", "Linux", "unknown");
    Print("%s", kRule);
}

void CFileLog::WriteBanner(const char* title)
{
    Print("%s", kRule);
    Print("%s", title);
    Print("%s", kRule);
}

void CFileLog::Close()
{
    if (!m_stream)
        return;
    WriteBanner("---------------------- Logging Ended -----------------------");
    m_stream->Flush();
    m_stream = nullptr;
}

void CFileLog::Print(const char* format, ...)
{
    char buffer[4096];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    WriteToLog(LOG_NONE, buffer);
}

void CFileLog::WriteToLog(int level, const char* text)
{
    if (!m_stream)
        return;
    // One buffer per line, so the line reaches the file in one write.
    std::string line;
    if (!m_timeStampFormat.empty()) {
        char stamp[512];
        const time_t now = time(nullptr);
        tm local{};
        localtime_r(&now, &local);
        const size_t n = strftime(stamp, sizeof stamp, m_timeStampFormat.c_str(), &local);
        line += '<';
        line.append(stamp, n);
        line += "> ";
    }
    if (level > 0)
        line += GetLogTag(level);
    line += text ? text : "";
    line += "\r\n";
    m_stream->Write(line.data(), line.size());
    // A tailer sees each line at once, and a crash loses nothing already logged.
    m_stream->Flush();
}

void Logger::Log(int level, const char* text)
{
    if (Context* context = GetContext())
        context->LogMessage(level, "%s", text);
}

void Logger::LogFormatted(int level, const char* format, ...)
{
    char buffer[4096];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    Log(level, buffer);
}

Context::Context()
{
    m_fileLog.SetTimeStampFormat(DefaultTimeStampFormat);
}

Context::~Context() = default;

void Context::LogMessageV(int level, const char* format, va_list arguments)
{
    char buffer[4096];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    size_t length = n < 0 ? 0 : std::min<size_t>(size_t(n), sizeof buffer - 1);
    buffer[length] = '\0';
    if (length > 0 && buffer[length - 1] == '\n')
        buffer[--length] = '\0';

    m_fileLog.WriteToLog(level, buffer);

    if (m_console) {
        std::string line = GetLogColour(level);
        line.append(buffer, length);
        line += kConsoleReset;
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), m_console);
        // Flushed per line, also when standard output is a pipe or a file.
        std::fflush(m_console);
    }
    if (m_listener)
        m_listener->OnLogLine(level, buffer);
}

void Context::LogMessage(int level, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    LogMessageV(level, format, arguments);
    va_end(arguments);
}

#define CORVANE_CONTEXT_LOG(name, level)          \
    void Context::name(const char* format, ...)   \
    {                                             \
        va_list arguments;                        \
        va_start(arguments, format);              \
        LogMessageV(level, format, arguments);    \
        va_end(arguments);                        \
    }
CORVANE_CONTEXT_LOG(Log, LOG_INFO)
CORVANE_CONTEXT_LOG(LogWarn, LOG_WARN)
CORVANE_CONTEXT_LOG(LogError, LOG_ERROR)
CORVANE_CONTEXT_LOG(LogCritical, LOG_CRITICAL)
#undef CORVANE_CONTEXT_LOG

void Context::SetFileSystem(std::unique_ptr<CFileSystem> fileSystem)
{
    m_fileSystem = std::move(fileSystem);
}

bool Context::OpenLogFile(const char* pattern)
{
    if (!pattern || !*pattern || !m_fileSystem)
        return false;
    char expanded[4096];
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    std::string path(expanded, strftime(expanded, sizeof expanded, pattern, &local));
    if (path.size() > 63)
        path.resize(63);
    Strong<Stream> stream = m_fileSystem->Open(path.c_str(), true);
    if (!stream)
        stream = m_fileSystem->Create(path.c_str());
    if (!stream)
        return false;
    m_fileLog.Open(stream);
    return true;
}

void Context::AddUserAgent(const char* text)
{
    if (!text)
        return;
    if (!m_userAgent.empty())
        m_userAgent += ' ';
    m_userAgent += text;
}

} // namespace Corvane3D
