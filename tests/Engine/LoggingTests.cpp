#include "Engine/Context.h"
#include "Engine/Stream.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace Corvane3D;

namespace {

// A context whose console is a temporary file and whose file log writes to memory.
struct LoggingFixture : ::testing::Test {
    LoggingFixture() : console(std::tmpfile())
    {
        context.SetConsole(console);
        GGlobal.m_pContext = &context;
    }
    ~LoggingFixture() override
    {
        GGlobal.m_pContext = nullptr;
        std::fclose(console);
    }
    void OpenFileLog(const char* stampFormat)
    {
        context.GetFileLog().SetTimeStampFormat(stampFormat);
        context.GetFileLog().Open(file);
    }
    std::string FileText() const
    {
        return std::string(reinterpret_cast<const char*>(file->GetData()), file->GetLength());
    }
    std::vector<std::string> FileLines() const
    {
        std::vector<std::string> lines;
        const std::string text = FileText();
        size_t start = 0, end;
        while ((end = text.find("\r\n", start)) != std::string::npos) {
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }
    std::string ConsoleText() const
    {
        std::fflush(console);
        std::rewind(console);
        std::string text;
        char buffer[8192];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, console)) > 0)
            text.append(buffer, n);
        return text;
    }

    FILE* console;
    Context context;
    Strong<CUnlimitedStream> file = MakeStrong<CUnlimitedStream>();
};

// "<dd/mm/yyyy - hh:mm:ss> " is 24 characters.
bool MatchesStamp(const std::string& line)
{
    const std::string shape = "<00/00/0000 - 00:00:00> ";
    if (line.size() < shape.size())
        return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (shape[i] == '0' ? !digit : line[i] != shape[i])
            return false;
    }
    return true;
}

} // namespace

TEST_F(LoggingFixture, FileLinesCarryTheTimeStampTheTenCharacterTagAndCrLf)
{
    OpenFileLog("%d/%m/%Y - %X");
    const size_t bannerLines = FileLines().size();
    struct Case {
        int level;
        const char* tag;
    };
    const Case cases[] = {{LOG_VERBOSE, "[VERBOSE] "}, {LOG_DEBUG, "[DEBUG]   "}, {LOG_INFO, "[INFO]    "},
                          {LOG_WARN, "[WARN]    "},    {LOG_ERROR, "[ERROR]   "}, {LOG_CRITICAL, "[CRITICAL]"},
                          {LOG_NONE, ""},              {9, ""},                   {-3, ""}};
    for (const Case& c : cases)
        context.LogMessage(c.level, "message %d", c.level);
    const std::vector<std::string> lines = FileLines();
    ASSERT_EQ(lines.size(), bannerLines + std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string& line = lines[bannerLines + i];
        EXPECT_TRUE(MatchesStamp(line)) << line;
        EXPECT_EQ(line.substr(24), std::string(cases[i].tag) + "message " + std::to_string(cases[i].level));
    }
}

TEST_F(LoggingFixture, ConsoleLinesAreColouredByLevelWithoutTagOrStamp)
{
    context.Log("info");
    context.LogWarn("warn");
    context.LogError("error");
    context.LogCritical("critical");
    context.LogMessage(LOG_DEBUG, "debug");
    EXPECT_EQ(ConsoleText(), "\033[32;1minfo\033[0;0m\n"
                             "\033[33;1mwarn\033[0;0m\n"
                             "\033[31;1merror\033[0;0m\n"
                             "\033[37;41mcritical\033[0;0m\n"
                             "\033[32;1mdebug\033[0;0m\n");
}

TEST_F(LoggingFixture, OneTrailingLineFeedIsDroppedAndLongMessagesAreCut)
{
    OpenFileLog("");
    const size_t bannerLines = FileLines().size();
    context.LogError("failed\n");
    context.Log("%s", std::string(5000, 'x').c_str());
    const std::vector<std::string> lines = FileLines();
    ASSERT_EQ(lines.size(), bannerLines + 2);
    EXPECT_EQ(lines[bannerLines], "[ERROR]   failed");
    EXPECT_EQ(lines[bannerLines + 1], "[INFO]    " + std::string(4095, 'x'));
    EXPECT_NE(ConsoleText().find("\033[32;1m" + std::string(4095, 'x') + "\033[0;0m\n"), std::string::npos);
}

TEST_F(LoggingFixture, BannersOpenAndCloseTheFileAndReopeningAppends)
{
    OpenFileLog("");
    context.Log("between");
    context.GetFileLog().Close();
    context.GetFileLog().Open(file);
    const std::vector<std::string> lines = FileLines();
    const std::string rule(60, '-');
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[0], rule);
    EXPECT_EQ(lines[1], "--------------------- Logging Started ----------------------");
    EXPECT_EQ(lines[2], rule);
    EXPECT_EQ(lines[3], "Corvane 1.2.0");
    EXPECT_EQ(lines[4], "Platform: Linux");
    EXPECT_EQ(lines[6], rule);
    EXPECT_EQ(lines[7], "[INFO]    between");
    EXPECT_EQ(lines[8], rule);
    EXPECT_EQ(lines[9], "---------------------- Logging Ended -----------------------");
    EXPECT_EQ(lines[10], rule);
    EXPECT_EQ(lines[12], "--------------------- Logging Started ----------------------");
    EXPECT_EQ(lines[1].size(), 60u);
    EXPECT_EQ(lines[9].size(), 60u);
}

// Guards log tailers and crashes: each console line must leave the process as it is written.
TEST(Logging, ConsoleLinesAreFlushedAtOnceEvenIntoAPipe)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FILE* pipeEnd = fdopen(fds[1], "w");
    setvbuf(pipeEnd, nullptr, _IOFBF, 65536); // as stdout is when it is not a terminal
    Context context;
    context.SetConsole(pipeEnd);
    context.Log("seen at once");
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    char buffer[128] = {};
    const ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
    EXPECT_GT(n, 0);
    EXPECT_NE(std::string(buffer).find("seen at once"), std::string::npos);
    std::fclose(pipeEnd);
    close(fds[0]);
}

TEST(Logging, LoggerHandsLinesToTheContextAndCanBeReplaced)
{
    struct Recorder : Logger {
        void Log(int level, const char* text) override { lines.push_back(std::to_string(level) + ":" + text); }
        std::vector<std::string> lines;
    } recorder;
    recorder.LogFormatted(LOG_WARN, "%s %d", "answer", 42);
    EXPECT_EQ(recorder.lines, std::vector<std::string>{"4:answer 42"});
}
