// The Windows half of the platform seam: UTF-8 names, long paths, the
// atomic replace and the device names, on a real (or Wine's) file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "engine/platform/Platform.h"

namespace quorvex::platform {
namespace {

class PlatformWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = temporaryNameIn(temporaryFilesFolder(), ".test");
        bool exists = false;
        std::string error;
        ASSERT_TRUE(createPrivateFolder(folder_, exists, error)) << error;
    }
    void TearDown() override {
        for (const std::string& path : created_)
            removeFile(path);
        removeFolder(folder_);
    }

    std::string pathOf(const std::string& name) {
        const std::string path = folder_ + "/" + name;
        created_.push_back(path);
        return path;
    }

    static void write(const std::string& path, const std::string& text) {
        bool exists = false;
        std::string error;
        const FileHandle file = createNewFile(path, exists, error);
        ASSERT_TRUE(file) << error;
        ASSERT_EQ(
            writeSome(file, reinterpret_cast<const uint8_t*>(text.data()), text.size(), error),
            static_cast<int64_t>(text.size()))
            << error;
    }

    static std::string read(const std::string& path) {
        OpenedInput input = openRegularFile(path);
        EXPECT_TRUE(input.file) << input.refusal;
        std::string text(256, '\0');
        std::string error;
        const int64_t count =
            readSome(input.file, reinterpret_cast<uint8_t*>(text.data()), text.size(), error);
        text.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
        return text;
    }

    std::string folder_;
    std::vector<std::string> created_;
};

TEST_F(PlatformWindows, NamesOutsideTheAnsiCodePageSurviveTheRoundTrip) {
    const std::string name = "Gr\xC3\xBC\xC3\x9F\x65 \xE6\x97\xA5\xE6\x9C\xAC.pdf";  // Grüße 日本
    write(pathOf(name), "bytes");
    EXPECT_EQ(read(folder_ + "/" + name), "bytes");
    EXPECT_NE(GetFileAttributesW(widePath(folder_ + "/" + name).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PlatformWindows, LongPathsGetThePrefixAndWork) {
    const std::string deep = folder_ + "/" + std::string(120, 'a');
    const std::string deeper = deep + "/" + std::string(120, 'b');
    bool exists = false;
    std::string error;
    ASSERT_TRUE(createPrivateFolder(deep, exists, error)) << error;
    ASSERT_TRUE(createPrivateFolder(deeper, exists, error)) << error;
    const std::string file = deeper + "/" + std::string(60, 'c') + ".pdf";
    EXPECT_TRUE(widePath(file).starts_with(L"\\\\?\\"));
    EXPECT_FALSE(widePath("short.pdf").starts_with(L"\\\\?\\"));
    write(file, "long");
    EXPECT_EQ(read(file), "long");
    removeFile(file);
    removeFolder(deeper);
    removeFolder(deep);
}

TEST_F(PlatformWindows, ReplaceFileSwapsTheContentInOneStep) {
    const std::string target = pathOf("out.pdf");
    const std::string part = pathOf("out.pdf.part");
    write(target, "old");
    write(part, "new");
    EXPECT_EQ(replaceFile(part, target), "");
    EXPECT_EQ(read(target), "new");
    EXPECT_EQ(GetFileAttributesW(widePath(part).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PlatformWindows, CreateNewFileTellsATakenName) {
    const std::string path = pathOf("taken.pdf");
    write(path, "x");
    bool exists = false;
    std::string error;
    EXPECT_FALSE(createNewFile(path, exists, error));
    EXPECT_TRUE(exists);
}

TEST_F(PlatformWindows, DeviceNamesAreWrittenIntoNeverReplaced) {
    for (const char* name : {"NUL", "nul", "NUL.pdf", "CON", "COM1", "lpt9.txt", "C:/x/nul"}) {
        EXPECT_EQ(findOutputTarget(name).kind, OutputTarget::Kind::Stream) << name;
    }
    for (const char* name : {"NULL.pdf", "COM10", "CONSOLE.pdf", "COM0"}) {
        EXPECT_EQ(findOutputTarget(name).kind, OutputTarget::Kind::File) << name;
    }
    std::string error;
    const FileHandle nul = openStream(findOutputTarget("NUL"), nullptr, error);
    ASSERT_TRUE(nul) << error;
    const std::string text = "%PDF-1.7";
    EXPECT_EQ(writeSome(nul, reinterpret_cast<const uint8_t*>(text.data()), text.size(), error),
              static_cast<int64_t>(text.size()));
    EXPECT_EQ(syncFile(nul), "");
}

TEST_F(PlatformWindows, FoldersAndReadOnlyFilesAreRefusedAsOutput) {
    EXPECT_EQ(findOutputTarget(folder_).kind, OutputTarget::Kind::Refused);
    const std::string locked = pathOf("locked.pdf");
    write(locked, "keep");
    ASSERT_TRUE(SetFileAttributesW(widePath(locked).c_str(), FILE_ATTRIBUTE_READONLY));
    const OutputTarget target = findOutputTarget(locked);
    SetFileAttributesW(widePath(locked).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(target.kind, OutputTarget::Kind::Refused);
    EXPECT_NE(target.refusal.find("read-only"), std::string::npos);
}

TEST_F(PlatformWindows, OnlyRegularFilesAreReadAsInput) {
    EXPECT_EQ(openRegularFile(folder_).refusal, "it is a folder");
    EXPECT_EQ(openRegularFile("NUL").refusal, "not a regular file (character device)");
    EXPECT_FALSE(openRegularFile(folder_ + "/missing.tif").refusal.empty());
}

TEST(PlatformWindowsNames, FolderOfKnowsDrivesAndBothSeparators) {
    EXPECT_EQ(folderOf("C:\\scans\\a.tif"), "C:\\scans");
    EXPECT_EQ(folderOf("C:/scans/a.tif"), "C:/scans");
    EXPECT_EQ(folderOf("C:\\a.tif"), "C:\\");
    EXPECT_EQ(folderOf("a.tif"), ".");
}

TEST(PlatformWindowsNames, Utf8AndUtf16ConvertBothWays) {
    const std::string text = "\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\x84";  // 日本 📄
    EXPECT_EQ(utf8FromWide(wideFromUtf8(text)), text);
    EXPECT_EQ(wideFromUtf8(text).size(), 5u);  // the emoji is a surrogate pair
}

TEST(PlatformWindowsTime, LocalTimeAndOffsetAddUpToUtc) {
    constexpr int64_t kSeconds = 1'700'000'000;
    constexpr int64_t kDay = 86400;
    std::tm local{};
    long offset = 0;
    ASSERT_TRUE(localTimeOf(kSeconds, local, offset));
    const int64_t secondsOfDay = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    EXPECT_EQ(secondsOfDay, ((kSeconds + offset) % kDay + kDay) % kDay);
}

}  // namespace
}  // namespace quorvex::platform
