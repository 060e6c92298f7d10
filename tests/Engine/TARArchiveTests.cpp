#include "Engine/Context.h"
#include "Engine/FileMgr.h"
#include "Engine/FileSystem.h"
#include "Engine/TARArchive.h"

#include "Engine/TestFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace Corvane3D;
using namespace TestFiles;
namespace fs = std::filesystem;

namespace {

// ---- A small writer of TAR images, so tests can shape every header field. ----

constexpr size_t kBlock = 512;

void PutText(std::string& block, size_t offset, size_t length, const std::string& text)
{
    std::memcpy(&block[offset], text.data(), std::min(length, text.size()));
}

void PutOctal(std::string& block, size_t offset, size_t length, uint64_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%0*llo", int(length - 1), (unsigned long long)value);
    PutText(block, offset, length - 1, text);
}

// Recomputes the checksum of the header at `offset`, over unsigned or signed bytes.
void Reseal(std::string& archive, size_t offset, bool signedBytes = false)
{
    std::memset(&archive[offset + 148], ' ', 8);
    int64_t sum = 0;
    for (size_t i = 0; i < kBlock; ++i)
        sum += signedBytes ? int64_t(static_cast<signed char>(archive[offset + i]))
                           : int64_t(static_cast<unsigned char>(archive[offset + i]));
    char text[16];
    std::snprintf(text, sizeof text, "%06llo", (unsigned long long)sum);
    std::memcpy(&archive[offset + 148], text, 7);
}

std::string Header(const std::string& name, char type, uint64_t size, const std::string& linkName = "",
                   const std::string& prefix = "")
{
    std::string block(kBlock, '\0');
    PutText(block, 0, 100, name);
    PutOctal(block, 100, 8, 0644);
    PutOctal(block, 108, 8, 0);
    PutOctal(block, 116, 8, 0);
    PutOctal(block, 124, 12, size);
    PutOctal(block, 136, 12, 1700000000);
    block[156] = type;
    PutText(block, 157, 100, linkName);
    std::memcpy(&block[257], "ustar\0" "00", 8);
    PutText(block, 345, 155, prefix);
    Reseal(block, 0);
    return block;
}

std::string Padded(const std::string& data)
{
    return data + std::string((kBlock - data.size() % kBlock) % kBlock, '\0');
}

std::string Member(const std::string& name, const std::string& data, char type = '0')
{
    return Header(name, type, data.size()) + Padded(data);
}

std::string PaxRecord(const std::string& key, const std::string& value)
{
    // The length counts itself, so settle it by iterating.
    const std::string body = " " + key + "=" + value + "\n";
    size_t length = body.size() + 1;
    while (std::to_string(length).size() + body.size() != length)
        length = std::to_string(length).size() + body.size();
    return std::to_string(length) + body;
}

const std::string kEnd(2 * kBlock, '\0');

// The archive borrows the image, so only images that outlive it are accepted here.
bool ReadImage(CTARArchive& archive, const std::string& image)
{
    return archive.ReadImage(image.data(), image.size());
}
bool ReadImage(CTARArchive& archive, std::string&& image) = delete;

// ---- Archives made by the real tar program. ----

// A folder tree with what archives hold in practice; `longNames` adds paths no ustar header can hold.
void MakeTree(const TempFolder& temp, bool longNames)
{
    WriteFile(temp / "src/a/b.txt", "hello\n");
    std::string binary;
    for (int i = 0; i < 1000; ++i)
        binary += char(i * 7 + 3);
    WriteFile(temp / "src/data/binary.bin", binary);
    WriteFile(temp / "src/data/block.bin", std::string(512, 'B'));
    WriteFile(temp / "src/data/empty.bin", "");
    // Over 100 characters in all, split by tar into the ustar prefix and name.
    const std::string deep = "deep/" + std::string(70, 'p') + "/" + std::string(60, 'q') + "/" + std::string(50, 'r') +
                             ".txt";
    WriteFile(temp / ("src/" + deep), "deep file");
    fs::create_directories(temp / "src/empty-folder");
    fs::create_symlink("a/b.txt", temp / "src/link.txt");
    fs::create_symlink("../a/b.txt", temp / "src/data/up-link.txt");
    fs::create_hard_link(temp / "src/a/b.txt", temp / "src/a/hard.txt");
    if (longNames) {
        std::string veryLong = "long";
        for (int i = 0; i < 4; ++i)
            veryLong += "/" + std::string(90, char('s' + i));
        WriteFile(temp / ("src/" + veryLong + ".txt"), "very long");
        fs::create_symlink(veryLong + ".txt", temp / "src/long-target-link.txt");
    }
}

std::string RunTar(const TempFolder& temp, const std::string& format, const std::string& members)
{
    const std::string archive = temp / (format + ".tar");
    const std::string command =
        "/usr/bin/tar --format=" + format + " -cf '" + archive + "' -C '" + (temp / "src") + "' " + members;
    return std::system(command.c_str()) == 0 ? archive : std::string();
}

struct TarFormatCase {
    const char* format;
    bool longNames;
    const char* members;
};

class RealTarTest : public ::testing::TestWithParam<TarFormatCase> {};

TEST_P(RealTarTest, EveryFileReadsBackByteForByteThroughTheFileSystem)
{
    if (access("/usr/bin/tar", X_OK) != 0)
        GTEST_SKIP() << "no tar program";
    const TarFormatCase& c = GetParam();
    TempFolder temp;
    MakeTree(temp, c.longNames);
    const std::string archivePath = RunTar(temp, c.format, c.members);
    ASSERT_FALSE(archivePath.empty()) << "tar failed";

    auto archive = std::make_unique<CTARArchive>();
    ASSERT_TRUE(archive->Read(CFileMgr::Open(archivePath.c_str(), false)));
    CFileSystem fileSystem;
    fileSystem.Mount(std::move(archive));

    size_t files = 0;
    for (const auto& item : fs::recursive_directory_iterator(temp / "src")) {
        const std::string relative = item.path().lexically_relative(temp / "src").string();
        SCOPED_TRACE(relative);
        if (item.is_symlink() || item.is_regular_file()) {
            ++files;
            EXPECT_TRUE(fileSystem.Exists(relative.c_str(), true, false));
            EXPECT_EQ(ReadAll(fileSystem.Open(("/" + relative).c_str(), false)), ReadFile(item.path()));
        }
    }
    EXPECT_GE(files, 8u);
    EXPECT_TRUE(fileSystem.Exists("data", false, true));
    EXPECT_FALSE(fileSystem.Exists("empty-folder", true, true)) << "folders show only as the parents of files";
    EXPECT_FALSE(fileSystem.Open("a/b.txt", true)) << "archives are read-only";

    Listing listing;
    EXPECT_TRUE(fileSystem.Enumerate("/data", Listing::Collect, &listing));
    EXPECT_EQ(listing.Names(), (std::vector<std::string>{"binary.bin", "block.bin", "empty.bin", "up-link.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Formats, RealTarTest,
                         ::testing::Values(TarFormatCase{"ustar", false, "."}, TarFormatCase{"gnu", true, "."},
                                           TarFormatCase{"pax", true, "."},
                                           TarFormatCase{"gnu", true, "a data deep long link.txt long-target-link.txt"},
                                           TarFormatCase{"ustar", false, "a data deep link.txt"}),
                         [](const auto& info) {
                             return std::string(info.param.format) +
                                    (info.param.members[0] == '.' ? "WithDotSlashNames" : "WithPlainNames");
                         });

TEST(RealTarImageTest, AnImageInMemoryServesSeveralMembersAtOnceAndOutlivesTheArchive)
{
    if (access("/usr/bin/tar", X_OK) != 0)
        GTEST_SKIP() << "no tar program";
    TempFolder temp;
    MakeTree(temp, false);
    const std::string image = ReadFile(RunTar(temp, "gnu", "."));
    ASSERT_FALSE(image.empty());
    Strong<Stream> first, second;
    {
        CTARArchive archive;
        ASSERT_TRUE(ReadImage(archive, image));
        first = archive.Open("a/b.txt", false);
        second = archive.Open("data/binary.bin", false);
    }
    ASSERT_TRUE(first && second);
    char byte;
    ASSERT_EQ(second->Read(&byte, 1), 1u);
    EXPECT_EQ(ReadAll(first), "hello\n");
    EXPECT_EQ(ReadAll(second).size(), 999u);
    EXPECT_EQ(second->GetLength(), 1000u);
}

// ---- Lookups ----

TEST(TARArchiveTest, LookupsAreCaseSensitiveAndAnswerByKind)
{
    CTARArchive archive;
    const std::string image = Member("a/b.txt", "bee") + kEnd;
    ASSERT_TRUE(ReadImage(archive, image));
    EXPECT_EQ(ReadAll(archive.Open("a/b.txt", false)), "bee");
    EXPECT_EQ(ReadAll(archive.Open("/a/b.txt", false)), "bee");
    EXPECT_FALSE(archive.Open("A/B.TXT", false));
    EXPECT_FALSE(archive.Open("a/b.txt", true));
    EXPECT_FALSE(archive.Open("a", false));
    EXPECT_FALSE(archive.Create("a/c.txt"));

    struct Case {
        const char* path;
        bool file;
        bool directory;
        bool expected;
    } cases[] = {
        {"a", false, true, true},       {"a", true, false, false},       {"a/b.txt", true, false, true},
        {"a/b.txt", false, true, false}, {"", true, true, false},         {"a/b.txt/c", true, true, false},
        {"missing", true, true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(archive.Exists(c.path, c.file, c.directory), c.expected) << "'" << c.path << "'";

    Listing listing;
    EXPECT_TRUE(archive.Enumerate("a", Listing::Collect, &listing));
    ASSERT_EQ(listing.m_entries.size(), 1u);
    EXPECT_EQ(listing.m_entries[0].m_name, "b.txt");
    EXPECT_EQ(listing.m_entries[0].m_directory, "a");
    EXPECT_TRUE(listing.m_entries[0].m_isFile);

    Listing none;
    EXPECT_TRUE(archive.Enumerate("nothing/here", Listing::Collect, &none));
    EXPECT_TRUE(archive.Enumerate("a/b.txt", Listing::Collect, &none));
    EXPECT_TRUE(none.m_entries.empty());
}

TEST(TARArchiveTest, ACaseInsensitiveArchiveFindsNamesInAnyCase)
{
    CTARArchive archive;
    archive.SetCaseSensitive(false);
    const std::string image = Member("Data/Colours.TXT", "red") + kEnd;
    ASSERT_TRUE(ReadImage(archive, image));
    EXPECT_EQ(ReadAll(archive.Open("data/colours.txt", false)), "red");
    Listing listing;
    EXPECT_TRUE(archive.Enumerate("DATA", Listing::Collect, &listing));
    EXPECT_EQ(listing.Names(), std::vector<std::string>{"Colours.TXT"});
}

TEST(TARArchiveTest, HeaderVariantsOfOtherWritersAreRead)
{
    // ustar prefix joined with '/', an old NUL type, a contiguous-file type, a base-256 size,
    // and a header summed over signed bytes.
    std::string image = Header("name.txt", '0', 3, "", "some/prefix") + Padded("pre");
    image += Header("old.txt", '\0', 3) + Padded("old");
    image += Header("contiguous.txt", '7', 4) + Padded("cont");
    const size_t base256 = image.size();
    image += Header("base256.txt", '0', 0) + Padded("five!");
    std::memset(&image[base256 + 124], 0, 12);
    image[base256 + 124] = char(0x80);
    image[base256 + 135] = 5;
    Reseal(image, base256);
    const size_t signedAt = image.size();
    image += Header("caf\xe9.txt", '0', 2) + Padded("ok");
    Reseal(image, signedAt, true);
    image += kEnd;

    CTARArchive archive;
    ASSERT_TRUE(ReadImage(archive, image));
    EXPECT_EQ(ReadAll(archive.Open("some/prefix/name.txt", false)), "pre");
    EXPECT_EQ(ReadAll(archive.Open("old.txt", false)), "old");
    EXPECT_EQ(ReadAll(archive.Open("contiguous.txt", false)), "cont");
    EXPECT_EQ(ReadAll(archive.Open("base256.txt", false)), "five!");
    EXPECT_EQ(ReadAll(archive.Open("caf\xe9.txt", false)), "ok");
}

TEST(TARArchiveTest, AGnuHeaderKeepsItsOtherDataWhereUstarHasThePrefix)
{
    std::string image = Header("gnu.txt", '0', 2);
    std::memcpy(&image[257], "ustar  \0", 8);
    PutOctal(image, 345, 12, 1700000000); // GNU keeps the access time here
    Reseal(image, 0);
    image += Padded("gn") + kEnd;
    CTARArchive archive;
    ASSERT_TRUE(ReadImage(archive, image));
    EXPECT_EQ(ReadAll(archive.Open("gnu.txt", false)), "gn");
}

TEST(TARArchiveTest, ConflictingMembersKeepTheFirstAndNeverPlaceAFileBelowAFile)
{
    const std::string image = Member("a", "first a") + Member("a", "second a") + Member("a/b", "below a") +
                              Member("x/y", "file y") + Member("x", "x clashes with folder") + kEnd;
    CTARArchive archive;
    ASSERT_TRUE(ReadImage(archive, image));
    EXPECT_EQ(ReadAll(archive.Open("a", false)), "first a");
    EXPECT_FALSE(archive.Exists("a/b", true, true));
    EXPECT_TRUE(archive.Exists("x", false, true));
    EXPECT_EQ(ReadAll(archive.Open("x/y", false)), "file y");
    EXPECT_EQ(archive.GetFileCount(), 2u);
}

TEST(TARArchiveTest, LinksReadAsTheFilesTheyNameAndOthersStayHidden)
{
    std::string image = Member("dir/target.txt", "target");
    image += Header("dir/rel", '2', 0, "target.txt");
    image += Header("top-rel", '2', 0, "dir/./target.txt");
    image += Header("dir/sub/up", '2', 0, "../target.txt");
    image += Header("chain", '2', 0, "top-rel");
    image += Header("hard", '1', 0, "./dir/target.txt");
    image += Header("to-folder", '2', 0, "dir");
    image += Header("abs", '2', 0, "/etc/passwd");
    image += Header("climb", '2', 0, "../../etc/passwd");
    image += Header("missing", '2', 0, "nothing.txt");
    image += Header("loop-a", '2', 0, "loop-b");
    image += Header("loop-b", '2', 0, "loop-a");
    image += kEnd;
    CTARArchive archive;
    ASSERT_TRUE(ReadImage(archive, image));
    for (const char* name : {"dir/rel", "top-rel", "dir/sub/up", "chain", "hard"})
        EXPECT_EQ(ReadAll(archive.Open(name, false)), "target") << name;
    for (const char* name : {"to-folder", "abs", "climb", "missing", "loop-a", "loop-b"})
        EXPECT_FALSE(archive.Exists(name, true, true)) << name;
}

// Member names from an untrusted archive must not reach anything outside the archive once mounted.
TEST(TARArchiveTest, MemberNamesWithParentComponentsOrLeadingSlashesStayInsideTheArchive)
{
    TempFolder temp;
    WriteFile(temp / "disk/evil.txt", "disk copy");
    const std::string image = Member("../evil.txt", "climbed") + Member("a/../../evil.txt", "climbed") +
                              Member("/abs/evil.txt", "absolute") + Member("./dot/./evil.txt", "dotted") + kEnd;
    auto archive = std::make_unique<CTARArchive>();
    ASSERT_TRUE(ReadImage(*archive, image));
    EXPECT_EQ(archive->GetFileCount(), 2u);
    CFileSystem fileSystem;
    fileSystem.Mount(std::move(archive));
    fileSystem.Mount(std::make_unique<CMountedPath>(temp / "disk"));
    EXPECT_EQ(ReadAll(fileSystem.Open("evil.txt", false)), "disk copy");
    EXPECT_FALSE(fileSystem.Open("../evil.txt", false));
    EXPECT_EQ(ReadAll(fileSystem.Open("abs/evil.txt", false)), "absolute");
    EXPECT_EQ(ReadAll(fileSystem.Open("dot/evil.txt", false)), "dotted");
    Listing listing;
    EXPECT_TRUE(fileSystem.Enumerate("/", Listing::Collect, &listing));
    EXPECT_EQ(listing.Names(), (std::vector<std::string>{"abs", "dot", "evil.txt"}));
}

TEST(TARArchiveTest, PaxRecordsSetPathAndSizeAndGlobalHeadersAreIgnored)
{
    const std::string longPath = "pax/" + std::string(300, 'n') + ".txt";
    std::string records = PaxRecord("path", longPath) + PaxRecord("size", "7") + PaxRecord("comment", "any");
    std::string globals = PaxRecord("path", "global-must-not-apply.txt");
    std::string image = Member("pax_global_header", globals, 'g');
    image += Member("PaxHeaders/x", records, 'x');
    image += Header("short-name", '0', 0) + Padded("seven!!");
    image += Member("plain.txt", "plain") + kEnd;
    CTARArchive archive;
    ASSERT_TRUE(ReadImage(archive, image));
    EXPECT_EQ(ReadAll(archive.Open(longPath.c_str(), false)), "seven!!");
    EXPECT_FALSE(archive.Exists("short-name", true, true));
    EXPECT_FALSE(archive.Exists("global-must-not-apply.txt", true, true));
    EXPECT_EQ(ReadAll(archive.Open("plain.txt", false)), "plain") << "extended records apply to one member only";
}

// ---- Hostile archives ----

struct HostileCase {
    const char* name;
    std::string image;
};

std::vector<HostileCase> HostileArchives()
{
    std::vector<HostileCase> cases;
    const std::string good = Member("a.txt", "abc");
    auto withField = [&](size_t offset, const std::string& bytes, bool reseal = true) {
        std::string image = good + kEnd;
        std::memcpy(&image[offset], bytes.data(), bytes.size());
        if (reseal)
            Reseal(image, 0);
        return image;
    };
    cases.push_back({"size with a non-octal digit", withField(124, std::string("0000000009x\0", 12))});
    cases.push_back({"size with text after the digits", withField(124, std::string("00000000003x", 12))});
    cases.push_back({"size field without digits", withField(124, std::string(12, ' '))});
    cases.push_back({"bad checksum", withField(0, "b.txt", false)});
    cases.push_back({"checksum not octal", withField(148, "01234x7 ", false)});
    cases.push_back({"negative base-256 size", withField(124, std::string(12, '\xff'))});
    cases.push_back({"base-256 size beyond 64 bits", withField(124, "\x80" + std::string(11, '\x7f'))});
    cases.push_back({"base-256 size beyond the archive", withField(124, std::string("\x80\0\0\0\0\0\0\0\x10\0\0\0", 12))});
    cases.push_back({"size pointing past the end", withField(124, "77777777777")});
    cases.push_back({"empty stream", ""});
    cases.push_back({"truncated header", (good + kEnd).substr(0, 300)});
    cases.push_back({"truncated data", (Header("a.txt", '0', 2000) + std::string(700, 'd'))});
    cases.push_back({"no end-of-archive block", good});
    cases.push_back({"long name beyond the limit",
                     Member("././@LongLink", std::string(CTARArchive::MaxLongNameSize + 1, 'L'), 'L') + kEnd});
    cases.push_back({"extended header beyond the limit",
                     Member("PaxHeaders/big", std::string(CTARArchive::MaxExtendedHeaderSize + 1, '\n'), 'x') + kEnd});
    cases.push_back({"pax record with a huge length",
                     Member("PaxHeaders/x", "99999999999999999999999 path=x\n", 'x') + good + kEnd});
    cases.push_back({"pax record longer than its header",
                     Member("PaxHeaders/x", "40 path=x\n", 'x') + good + kEnd});
    cases.push_back({"pax record without '='", Member("PaxHeaders/x", "11 pathxyz\n", 'x') + good + kEnd});
    cases.push_back({"pax record not ending in a line feed", Member("PaxHeaders/x", "10 path=ab", 'x') + good + kEnd});
    cases.push_back({"pax record without a length", Member("PaxHeaders/x", " path=x\n", 'x') + good + kEnd});
    cases.push_back({"pax size that is not decimal", Member("PaxHeaders/x", PaxRecord("size", "12x"), 'x') + good + kEnd});
    cases.push_back({"pax size beyond the archive",
                     Member("PaxHeaders/x", PaxRecord("size", "99999999999"), 'x') + good + kEnd});
    cases.push_back({"pax size beyond 64 bits",
                     Member("PaxHeaders/x", PaxRecord("size", "99999999999999999999999"), 'x') + good + kEnd});
    return cases;
}

// Archives come from server owners and downloads: a malformed one must fail cleanly, with one error line.
TEST(TARArchiveHostileTest, MalformedArchivesAreRefusedWithOneErrorLine)
{
    Context context;
    FILE* console = std::tmpfile();
    ASSERT_NE(console, nullptr);
    context.SetConsole(console);
    GGlobal.m_pContext = &context;
    for (const HostileCase& c : HostileArchives()) {
        SCOPED_TRACE(c.name);
        const long before = std::ftell(console);
        CTARArchive archive;
        EXPECT_FALSE(ReadImage(archive, c.image));
        EXPECT_FALSE(archive.Exists("a.txt", true, true)) << "a refused archive stays empty";
        std::fflush(console);
        std::string logged(size_t(std::ftell(console) - before), '\0');
        std::fseek(console, before, SEEK_SET);
        ASSERT_EQ(std::fread(logged.data(), 1, logged.size(), console), logged.size());
        EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 1) << logged;
        EXPECT_NE(logged.find("TAR archive"), std::string::npos) << logged;
    }
    GGlobal.m_pContext = nullptr;
    std::fclose(console);
}

// A cut anywhere before the end-of-archive block must be noticed, never read past the image.
TEST(TARArchiveHostileTest, AnArchiveCutAtAnyByteBeforeItsEndBlockIsRefused)
{
    const std::string members = Member("././@LongLink", std::string(150, 'l') + '\0', 'L') +
                                Header(std::string(100, 'l'), '0', 600) + Padded(std::string(600, 'x')) +
                                Member("PaxHeaders/p", PaxRecord("path", "pax.txt"), 'x') + Member("p", "pax");
    const std::string image = members + kEnd;
    for (size_t cut = 0; cut < members.size() + kBlock; ++cut) {
        const std::string part = image.substr(0, cut);
        CTARArchive archive;
        ASSERT_FALSE(archive.ReadImage(part.data(), part.size())) << "cut at " << cut;
    }
    CTARArchive whole;
    ASSERT_TRUE(ReadImage(whole, image));
    EXPECT_EQ(ReadAll(whole.Open(std::string(150, 'l').c_str(), false)), std::string(600, 'x'));
    EXPECT_EQ(ReadAll(whole.Open("pax.txt", false)), "pax");
}

TEST(TARArchiveHostileTest, EndlessZeroBlocksEndTheArchiveAtTheFirstOne)
{
    const std::string image = Member("a.txt", "abc") + std::string(4096 * kBlock, '\0');
    CTARArchive archive;
    ASSERT_TRUE(ReadImage(archive, image));
    EXPECT_EQ(ReadAll(archive.Open("a.txt", false)), "abc");

    const std::string nothing(4096 * kBlock, '\0');
    CTARArchive empty;
    EXPECT_TRUE(ReadImage(empty, nothing));
    EXPECT_EQ(empty.GetFileCount(), 0u);
}

TEST(TARArchiveHostileTest, AFailedReadDropsWhatAnEarlierReadLoaded)
{
    CTARArchive archive;
    const std::string good = Member("a.txt", "abc") + kEnd;
    const std::string unterminated = Member("b.txt", "abc");
    ASSERT_TRUE(ReadImage(archive, good));
    EXPECT_FALSE(ReadImage(archive, unterminated));
    EXPECT_FALSE(archive.Exists("a.txt", true, true));
    EXPECT_FALSE(archive.Exists("b.txt", true, true));
}

} // namespace
