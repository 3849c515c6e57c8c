// The volume manager's reports as snaphost reads them, and the JSON it writes.
#include <gtest/gtest.h>

#include <string>

#include "json.h"
#include "volumeManager.h"

namespace {

TEST(SnaphostReports, VolumesAreReadFieldByFieldAndMalformedLinesAreLeftOut) {
    // As lvm2 prints them, with a warning line and a line of another shape among them.
    const char* report =
        "  WARNING: something the volume manager wanted to say\n"
        "  vg01|home|16777216|owi-a-s---|||\n"
        "  vg01|snap1|4194304|swi-I-s---|home|100.00|-bad,snaphost-run:host=h:boot=b:pid=7:start=9\n"
        "  vg01|thin|8388608|Vwi-a-tz--|||\n"
        "  vg01|short|1\n"
        "  vg01|nosize||-wi-a-----|||\n";
    auto volumes = snaphost::parseVolumeReport(report);
    ASSERT_EQ(volumes.size(), 3u);
    EXPECT_EQ(volumes[0].name, "home");
    EXPECT_EQ(volumes[0].size, 16777216u);
    EXPECT_FALSE(volumes[0].isSnapshot());
    EXPECT_FALSE(volumes[0].dataPercent);
    const auto& snap = volumes[1];
    EXPECT_TRUE(snap.isSnapshot() && snap.isInvalid() && !snap.isOpen());
    EXPECT_EQ(snap.origin, "home");
    EXPECT_EQ(snap.dataPercent.value_or(0), 100.0);
    EXPECT_EQ(snap.tags, (std::vector<std::string>{"-bad", "snaphost-run:host=h:boot=b:pid=7:start=9"}));
    EXPECT_TRUE(volumes[2].isThin());

    auto group = snaphost::parseGroupReport("  vg01|62914560|41943040|4194304\n");
    ASSERT_TRUE(group);
    EXPECT_EQ(group->free, 41943040u);
    EXPECT_EQ(group->extent, 4194304u);
    EXPECT_FALSE(snaphost::parseGroupReport("  Volume group \"x\" not found\n"));
}

bool validUtf8WithoutControls(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20) return false;
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

TEST(SnaphostJson, AnyTextBecomesAValidString) {
    std::string every;
    for (int c = 1; c < 256; ++c) every += static_cast<char>(c);
    for (const std::string& text : {every, std::string("caf\xc3\xa9 \xe2\x82\xac"),
                                    std::string("\xc3"), std::string("a\"b\\c\n")}) {
        std::string out = snaphost::Json(text).dump();
        EXPECT_TRUE(validUtf8WithoutControls(out)) << out;
        EXPECT_EQ(out.front(), '"');
        EXPECT_EQ(out.back(), '"');
    }
    EXPECT_EQ(snaphost::Json(std::string("caf\xc3\xa9")).dump(), "\"caf\xc3\xa9\"");
}

}  // namespace
