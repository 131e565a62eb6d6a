// Payload reader: trailer search, payload offset and the embedded text, on good and bad files.
#include "config/payload.h"

#include <gtest/gtest.h>

#include <cstring>

#include "config/config_store.h"
#include "test_support.h"

namespace vxo {
namespace {

using test::EmptyZip;
using test::Payload;

const std::uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

TEST(TrailerSearch, CommentsSmallFilesAndTwoSignatures) {
    struct Case { std::string file; std::size_t trailer; };
    const std::string archive = std::string(100, 'z') + EmptyZip();
    const Case cases[] = {
        {"image" + archive, 0},
        {"image" + std::string(100, 'z') + EmptyZip("hello"), 5},
        {"image", 0},
        {"", 0},
        {"PK\x05\x06", 0},  // shorter than a record
        // Two signatures: the one nearest the end wins.
        {"image" + EmptyZip() + std::string(30, 'q') + EmptyZip("ab"), 2},
        // A signature too close to the end for a whole record is not taken.
        {"image" + EmptyZip("") + "PK\x05\x06" + std::string(10, '\0'), 14},
    };
    for (const Case& c : cases) EXPECT_EQ(TrailerLength(Bytes(c.file), c.file.size()), c.trailer);
}

TEST(TrailerSearch, WindowIsOnePercentOrAtLeast51200Bytes) {
    // A record just inside the window is found; one just outside is not.
    const std::size_t size = 200000;
    for (std::size_t distance : {51200u + 22u, 51200u + 23u}) {
        std::string file(size, 'x');
        std::memcpy(&file[size - distance], "PK\x05\x06", 4);
        std::size_t expected = distance == 51222 ? distance - 22 : 0;
        EXPECT_EQ(TrailerLength(Bytes(file), file.size()), expected) << distance;
    }
    std::string big(10000000, 'x');  // 1% is larger than the minimum
    std::memcpy(&big[big.size() - 90000], "PK\x05\x06", 4);
    EXPECT_EQ(TrailerLength(Bytes(big), big.size()), 90000u - 22u);
}

TEST(EmbeddedText, LayoutAndLengthCountsMarkAndNul) {
    const std::string lines = std::string(100, 'k') + "\r\n";  // with the mark: 105 bytes
    const std::string archive = "ARCHIVE" + EmptyZip();
    const std::string file = "image" + Payload(lines, archive);
    std::int64_t d = PayloadOffset(file.size(), archive.size(), 0);
    ASSERT_EQ(d, static_cast<std::int64_t>(5 + 106 + 4));
    EXPECT_EQ(file.substr(d + 16, 7), "ARCHIVE");  // the archive starts T + 20 into the payload
    std::string text = EmbeddedText(Bytes(file), file.size(), d);
    ASSERT_EQ(text.size(), 106u);
    EXPECT_EQ(text.substr(3, 103), lines + std::string(1, '\0'));
}

TEST(EmbeddedText, StopsAtFirstNulAndPads) {
    const std::string file = "img" + Payload(std::string("ab\0cd", 5));
    std::string text = EmbeddedText(Bytes(file), file.size(), file.size() - 16);
    EXPECT_EQ(text, std::string("\xEF\xBB\xBF" "ab\0\0\0\0", 9));
}

TEST(EmbeddedText, FieldsOutsideTheFileGiveNothing) {
    const std::string good = "img" + Payload("mainclass a\r\n");
    struct Case { std::string file; std::int64_t d; };
    std::string hugeT = good;
    hugeT.replace(good.size() - 20, 4, test::Le32(0x7FFFFFFF));
    std::string negativeT = good;
    negativeT.replace(good.size() - 20, 4, test::Le32(0x80000000u));
    std::string zeroT = good;
    zeroT.replace(good.size() - 20, 4, test::Le32(0));
    const Case cases[] = {
        {hugeT, static_cast<std::int64_t>(good.size() - 16)},
        {negativeT, static_cast<std::int64_t>(good.size() - 16)},
        {zeroT, static_cast<std::int64_t>(good.size() - 16)},
        {good, -1},
        {good, 3},
        {good, static_cast<std::int64_t>(good.size() + 1)},
        {"", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(EmbeddedText(Bytes(c.file), c.file.size(), c.d), "");
    EXPECT_EQ(PayloadOffset(10, 100, 0), -1);  // an archive longer than the file
    EXPECT_EQ(PayloadOffset(0x80000000u, 0, 0), -1);
}

TEST(ProgramFile, DamagedOrMissingFilesLoadAnEmptyStore) {
    test::ScratchDir dir;
    test::WriteFile(dir / "short.exe", "MZ");
    test::WriteFile(dir / "empty.exe", "");
    for (const char* name : {"short.exe", "empty.exe", "missing.exe"}) {
        ConfigStore store(true, dir / name);
        EXPECT_EQ(store.Text(), "") << name;
        EXPECT_EQ(store.Value(Keyword::MainClass), "") << name;
    }
}

}  // namespace
}  // namespace vxo
