#include "Engine/Context.h"
#include "Engine/FileMgr.h"
#include "Engine/FileSystem.h"
#include "Engine/TARArchive.h"

#include "Engine/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <filesystem>

using namespace Corvane3D;
using namespace TestFiles;
namespace fs = std::filesystem;

namespace {

TEST(FileMgrTest, CreateMakesEveryMissingFolderOnTheWayAndReturnsAWritableStream)
{
    TempFolder temp;
    Strong<Stream> stream = CFileMgr::Create((temp / "logs/a/b.txt").c_str());
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->Write("hello", 5), 5u);
    stream = nullptr;
    EXPECT_TRUE(fs::is_directory(temp / "logs/a"));
    EXPECT_EQ(ReadFile(temp / "logs/a/b.txt"), "hello");
}

TEST(FileMgrTest, BackslashesInCreatedPathsAreNamesNotFolders)
{
    TempFolder temp;
    ASSERT_TRUE(CFileMgr::Create((temp / "logs\\a\\b.txt").c_str()));
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(temp.Path()))
        names.push_back(item.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"logs\\a\\b.txt"});
}

TEST(FileMgrTest, OpenGivesRegularFilesOnlyAndNeverBlocksOnAFifo)
{
    TempFolder temp;
    WriteFile(temp / "data.bin", "abc");
    ASSERT_EQ(mkfifo((temp / "pipe").c_str(), 0600), 0);
    fs::create_directory(temp / "folder");

    Strong<Stream> stream = CFileMgr::Open((temp / "data.bin").c_str(), false);
    ASSERT_TRUE(stream);
    EXPECT_EQ(ReadAll(stream), "abc");
    EXPECT_EQ(stream->Write("x", 1), 0u) << "a read-only stream accepted a write";

    Strong<Stream> writable = CFileMgr::Open((temp / "data.bin").c_str(), true);
    ASSERT_TRUE(writable);
    EXPECT_EQ(writable->Write("XY", 2), 2u);
    writable = nullptr;
    EXPECT_EQ(ReadFile(temp / "data.bin"), "XYc") << "opening for writing must not truncate";

    EXPECT_FALSE(CFileMgr::Open((temp / "missing").c_str(), false));
    EXPECT_FALSE(CFileMgr::Open((temp / "folder").c_str(), false));
    // A FIFO opened the plain way would hang the caller until a writer appears.
    EXPECT_FALSE(CFileMgr::Open((temp / "pipe").c_str(), false));
}

TEST(FileMgrTest, ExistsAnswersByKindAndAcceptedKinds)
{
    TempFolder temp;
    WriteFile(temp / "file.txt", "x");
    fs::create_directory(temp / "folder");
    struct Case {
        const char* path;
        bool file;
        bool directory;
        bool expected;
    } cases[] = {
        {"file.txt", true, false, true},  {"file.txt", false, true, false}, {"folder", false, true, true},
        {"folder", true, false, false},   {"folder", true, true, true},     {"missing", true, true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CFileMgr::Exists((temp / c.path).c_str(), c.file, c.directory), c.expected)
            << c.path << " file=" << c.file << " directory=" << c.directory;
}

TEST(FileMgrTest, EnumerateListsEntriesWithKindsAndStopsWhenTheCallbackSaysSo)
{
    TempFolder temp;
    WriteFile(temp / "list/a.txt", "1");
    WriteFile(temp / "list/b.txt", "2");
    fs::create_directory(temp / "list/sub");

    Listing all;
    EXPECT_TRUE(CFileMgr::Enumerate((temp / "list").c_str(), Listing::Collect, &all));
    EXPECT_EQ(all.Names(), (std::vector<std::string>{"a.txt", "b.txt", "sub"}));
    ASSERT_TRUE(all.Find("sub"));
    EXPECT_TRUE(all.Find("sub")->m_isDirectory);
    EXPECT_FALSE(all.Find("sub")->m_isFile);
    EXPECT_TRUE(all.Find("a.txt")->m_isFile);
    EXPECT_EQ(all.Find("a.txt")->m_directory, temp / "list");

    Listing stopped;
    stopped.m_stopAfter = 1;
    EXPECT_FALSE(CFileMgr::Enumerate((temp / "list").c_str(), Listing::Collect, &stopped));
    EXPECT_EQ(stopped.m_entries.size(), 1u);

    Listing missing;
    EXPECT_TRUE(CFileMgr::Enumerate((temp / "missing").c_str(), Listing::Collect, &missing));
    EXPECT_TRUE(missing.m_entries.empty());
}

TEST(MountedPathTest, PathsWithAndWithoutLeadingSlashAndBasesWithAndWithoutTrailingSlashAgree)
{
    TempFolder temp;
    WriteFile(temp / "game/scripts/main.js", "main");
    for (const std::string& base : {temp / "game", temp / "game/"}) {
        CMountedPath mount(base);
        for (const char* path : {"scripts/main.js", "/scripts/main.js", "//scripts//./main.js"})
            EXPECT_EQ(ReadAll(mount.Open(path, false)), "main") << base << " + " << path;
    }
}

TEST(MountedPathTest, CreateMakesFoldersInsideTheMountAndOpenForWritingEditsInPlace)
{
    TempFolder temp;
    fs::create_directory(temp / "game");
    CMountedPath mount(temp / "game");
    Strong<Stream> created = mount.Create("/logs/a/b.txt");
    ASSERT_TRUE(created);
    created->Write("12345", 5);
    created = nullptr;
    EXPECT_EQ(ReadFile(temp / "game/logs/a/b.txt"), "12345");

    Strong<Stream> edited = mount.Open("logs/a/b.txt", true);
    ASSERT_TRUE(edited);
    ASSERT_TRUE(edited->Seek(0, SEEK_ORIGIN_END));
    edited->Write("6", 1);
    edited = nullptr;
    EXPECT_EQ(ReadFile(temp / "game/logs/a/b.txt"), "123456");

    EXPECT_TRUE(mount.Exists("/", false, true));
    EXPECT_FALSE(mount.Open("/", false)) << "the mount's folder is not a file";
    EXPECT_FALSE(mount.Create("/")) << "the mount's folder cannot be created as a file";
}

// The layout for escape tests: a mount root "root" beside files it must never reach.
class MountEscapeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFile(temp / "outside.txt", "secret");
        WriteFile(temp / "outside/secret.txt", "secret");
        WriteFile(temp / "root/inside.txt", "inside");
        WriteFile(temp / "root/sub/file.txt", "file");
        const std::string realRoot = fs::canonical(temp / "root").string();
        fs::create_symlink("../outside.txt", temp / "root/linkOut");
        fs::create_symlink(temp / "outside.txt", temp / "root/absOut");
        fs::create_directory_symlink("../outside", temp / "root/dirOut");
        fs::create_directory_symlink(temp / "outside", temp / "root/absDirOut");
        fs::create_symlink("../../outside.txt", temp / "root/sub/upOut");
        fs::create_symlink("../newfile.txt", temp / "root/danglingOut");
        fs::create_symlink("loop", temp / "root/loop");
        fs::create_symlink("sub/file.txt", temp / "root/linkIn");
        fs::create_symlink(realRoot + "/sub/file.txt", temp / "root/absIn");
        fs::create_symlink("../inside.txt", temp / "root/sub/up");
        fs::create_directory_symlink("sub", temp / "root/dirIn");
    }

    void ExpectOutsideUntouched()
    {
        EXPECT_EQ(ReadFile(temp / "outside.txt"), "secret");
        EXPECT_EQ(ReadFile(temp / "outside/secret.txt"), "secret");
        EXPECT_FALSE(fs::exists(temp / "newfile.txt"));
        EXPECT_FALSE(fs::exists(temp / "outside/new.txt"));
        EXPECT_FALSE(fs::exists(temp / "new.txt"));
    }

    TempFolder temp;
};

// Resource names, meta entries and scripts come from outside: none of them may leave the mount root.
TEST_F(MountEscapeTest, PathsThatLeaveTheRootAreRefusedForEveryOperation)
{
    CMountedPath mount(temp / "root");
    const std::string escapes[] = {
        "../outside.txt",      "/../outside.txt",   "sub/../../outside.txt", "sub/../inside.txt",
        "linkOut",             "absOut",            "dirOut/secret.txt",     "absDirOut/secret.txt",
        "sub/upOut",           "loop",              "../new.txt",            "dirOut/new.txt",
        "danglingOut",         "sub/../../new.txt", temp / "outside.txt",    temp / "root/../outside.txt",
    };
    for (const std::string& path : escapes) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(mount.Open(path.c_str(), false));
        EXPECT_FALSE(mount.Open(path.c_str(), true));
        EXPECT_FALSE(mount.Exists(path.c_str(), true, true));
        // A host path without ".." is simply a name inside the mount, where it may be created.
        if (path.front() != '/' || path.find("..") != std::string::npos) {
            EXPECT_FALSE(mount.Create(path.c_str()));
        }
    }
    Listing listing;
    EXPECT_TRUE(mount.Enumerate("dirOut", Listing::Collect, &listing));
    EXPECT_TRUE(mount.Enumerate("../outside", Listing::Collect, &listing));
    EXPECT_TRUE(listing.m_entries.empty());
    ExpectOutsideUntouched();
}

// A '\' is an ordinary name character on disk; it must not act as a separator that climbs out.
TEST_F(MountEscapeTest, BackslashesAreOrdinaryNameCharactersAndCannotClimbOut)
{
    CMountedPath mount(temp / "root");
    EXPECT_FALSE(mount.Open("..\\outside.txt", false));
    EXPECT_FALSE(mount.Exists("sub\\..\\..\\outside.txt", true, true));
    ASSERT_TRUE(mount.Create("..\\new.txt"));
    EXPECT_TRUE(fs::exists(temp / "root/..\\new.txt"));
    ExpectOutsideUntouched();
}

TEST_F(MountEscapeTest, LinksThatStayInsideTheRootAreFollowed)
{
    CMountedPath mount(temp / "root");
    EXPECT_EQ(ReadAll(mount.Open("linkIn", false)), "file");
    EXPECT_EQ(ReadAll(mount.Open("absIn", false)), "file");
    EXPECT_EQ(ReadAll(mount.Open("sub/up", false)), "inside");
    EXPECT_EQ(ReadAll(mount.Open("dirIn/file.txt", false)), "file");
    EXPECT_TRUE(mount.Exists("dirIn", false, true));

    Listing listing;
    EXPECT_TRUE(mount.Enumerate("/", Listing::Collect, &listing));
    EXPECT_EQ(listing.Names(), (std::vector<std::string>{"absIn", "dirIn", "inside.txt", "linkIn", "sub"}))
        << "links that leave the root must not be listed";
    EXPECT_TRUE(listing.Find("linkIn")->m_isFile);
    EXPECT_TRUE(listing.Find("dirIn")->m_isDirectory);
    EXPECT_EQ(listing.Find("sub")->m_directory, temp / "root");
}

// A mount whose own base is a link (the server folder reached through a link) still works.
TEST(MountedPathTest, ABaseReachedThroughALinkIsUsable)
{
    TempFolder temp;
    WriteFile(temp / "real/a.txt", "a");
    fs::create_directory_symlink(temp / "real", temp / "alias");
    CMountedPath mount(temp / "alias");
    EXPECT_EQ(ReadAll(mount.Open("/a.txt", false)), "a");
}

// The file system's own tests use two folders as mounts "first" and "second".
class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFile(temp / "first/shared.txt", "first");
        WriteFile(temp / "first/only-first.txt", "1");
        fs::create_directory(temp / "first/dir");
        WriteFile(temp / "second/shared.txt", "second");
        WriteFile(temp / "second/only-second.txt", "2");
        WriteFile(temp / "second/dir", "a file in the second mount");
        fileSystem.Mount(std::make_unique<CMountedPath>(temp / "first"));
        fileSystem.Mount(std::make_unique<CMountedPath>(temp / "second"));
    }

    TempFolder temp;
    CFileSystem fileSystem;
};

TEST_F(FileSystemTest, LookupsTakeTheFirstMountThatAnswers)
{
    EXPECT_EQ(ReadAll(fileSystem.Open("shared.txt", false)), "first");
    EXPECT_EQ(ReadAll(fileSystem.Open("/shared.txt", false)), "first");
    EXPECT_EQ(ReadAll(fileSystem.Open("only-second.txt", false)), "2");
    EXPECT_FALSE(fileSystem.Open("missing.txt", false));
    EXPECT_TRUE(fileSystem.Exists("only-second.txt", true, false));
    EXPECT_TRUE(fileSystem.Exists("dir", true, false)) << "the second mount answers for the file";
    EXPECT_FALSE(fileSystem.Exists("missing.txt", true, true));
}

TEST_F(FileSystemTest, EnumerationMergesMountsReportingEachNameOnceFromTheEarliestMount)
{
    Listing listing;
    EXPECT_TRUE(fileSystem.Enumerate("", Listing::Collect, &listing));
    EXPECT_EQ(listing.Names(), (std::vector<std::string>{"dir", "only-first.txt", "only-second.txt", "shared.txt"}));
    EXPECT_TRUE(listing.Find("dir")->m_isDirectory) << "the earliest mount's entry wins";
    for (const ListedEntry& entry : listing.m_entries)
        EXPECT_EQ(entry.m_directory, "/") << "entries carry the virtual folder, not a disk path";

    Listing stopped;
    stopped.m_stopAfter = 2;
    EXPECT_FALSE(fileSystem.Enumerate("/", Listing::Collect, &stopped));
    EXPECT_EQ(stopped.m_entries.size(), 2u);

    Listing missing;
    EXPECT_TRUE(fileSystem.Enumerate("/no/such/folder", Listing::Collect, &missing));
    EXPECT_TRUE(missing.m_entries.empty());
}

TEST_F(FileSystemTest, CreatePassesOverReadOnlyMountsAndMakesFoldersInTheFirstFolderMount)
{
    CFileSystem layered;
    auto archive = std::make_unique<CTARArchive>();
    layered.Mount(std::move(archive));
    layered.Mount(std::make_unique<CMountedPath>(temp / "second"));
    Strong<Stream> stream = layered.Create("logs/a/b.txt");
    ASSERT_TRUE(stream);
    stream->Write("x", 1);
    stream = nullptr;
    EXPECT_EQ(ReadFile(temp / "second/logs/a/b.txt"), "x");
}

TEST_F(FileSystemTest, ResolvePathGivesTheFirstFolderMountsDiskPathAndRefusesParentComponents)
{
    std::string real;
    ASSERT_TRUE(fileSystem.ResolvePath("/docs/index.html", real));
    EXPECT_EQ(real, temp / "first/docs/index.html");
    EXPECT_FALSE(fileSystem.ResolvePath("../docs", real));

    CFileSystem empty;
    EXPECT_FALSE(empty.ResolvePath("/docs", real));
}

TEST(FileSystemExecutableTest, TheExecutableFolderEndsWithASlashAndHoldsTheTestBinary)
{
    const std::string folder = CFileSystem::GetExecutableDirectory();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(fs::exists(folder + "engine_tests"));
}

// The context owns the file system and opens its file log through it.
class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directory(temp / "server");
        auto fileSystem = std::make_unique<CFileSystem>();
        fileSystem->Mount(std::make_unique<CMountedPath>(temp / "server"));
        context.SetFileSystem(std::move(fileSystem));
        context.SetConsole(nullptr);
    }

    static std::string Today(const char* format)
    {
        char text[64];
        const time_t now = time(nullptr);
        tm local{};
        localtime_r(&now, &local);
        return std::string(text, strftime(text, sizeof text, format, &local));
    }

    TempFolder temp;
    Context context;
};

TEST_F(LogFileTest, ThePatternIsExpandedWithTheDateAndFoldersAreMade)
{
    ASSERT_NE(context.GetFileSystem(), nullptr);
    ASSERT_TRUE(context.OpenLogFile("logs/Server-%Y-%m-%d.log"));
    context.LogError("disk full\n");
    const std::string text = ReadFile(temp / ("server/logs/Server-" + Today("%Y-%m-%d") + ".log"));
    EXPECT_NE(text.find("--------------------- Logging Started ----------------------\r\n"), std::string::npos);
    EXPECT_NE(text.find("[ERROR]   disk full\r\n"), std::string::npos);
}

TEST_F(LogFileTest, OpeningAgainAppendsASecondBannerToTheSameFile)
{
    ASSERT_TRUE(context.OpenLogFile("server.log"));
    context.Log("first run");
    context.GetFileLog().Close();
    ASSERT_TRUE(context.OpenLogFile("server.log"));
    context.GetFileLog().Close();
    const std::string text = ReadFile(temp / "server/server.log");
    const std::string started = "Logging Started";
    const size_t first = text.find(started);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(text.find(started, first + 1), std::string::npos);
    EXPECT_LT(first, text.find("first run"));
}

TEST_F(LogFileTest, ALogPathThatCannotBeCreatedLeavesTheServerWithoutAFileLog)
{
    EXPECT_FALSE(context.OpenLogFile("../escape.log"));
    EXPECT_FALSE(context.GetFileLog().IsOpen());
    EXPECT_FALSE(fs::exists(temp / "escape.log"));

    Context bare;
    bare.SetConsole(nullptr);
    EXPECT_FALSE(bare.OpenLogFile("server.log")) << "no file system, no file log";
}

} // namespace
