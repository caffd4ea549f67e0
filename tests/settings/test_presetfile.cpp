// Reading a preset: in linear time however long, and only to its first fault.
#include "settings/presetfile.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

using namespace testsupport;

// A repeated name is found after a megabyte of others (a search through the
// names before each took minutes); the check's first refusal ends the
// reading before the bad line after it.
TEST(PresetFile, LongFilesReadInLinearTimeAndTheFirstFaultEndsTheReading)
{
    ScratchDir dir;
    std::string text = "[Settings2]\n";
    int lines = 1;
    for (int i = 0; text.size() < std::size_t(kMaxPresetBytes) - 64; ++i, ++lines)
        text += "n" + std::to_string(i) + "=\n";
    text += "n0=again\n";
    const struct {
        std::string text;
        const char *refused; // the name the check refuses
        PresetFault::Kind kind;
        int line;
        std::size_t checked; // values the check saw
    } rows[] = {
        {text, "", PresetFault::Repeated, lines + 1, std::size_t(lines - 1)},
        {"[Settings2]\na=1\nb=2\nnot a value\n", "b", PresetFault::Refused, 3, 2},
        {"[Settings2]\na=1\nnot a value\nb=2\n", "b", PresetFault::NotAValue, 3, 1},
        {std::string(std::size_t(kMaxPresetBytes) + 1, ';'), "", PresetFault::TooLarge, 0, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text.substr(0, 40));
        const std::string path = dir.Path("p.ini");
        ASSERT_TRUE(WriteFileBytes(path, std::vector<std::uint8_t>(row.text.begin(), row.text.end())));
        std::vector<PresetEntry> entries;
        PresetFault fault;
        std::size_t checked = 0;
        const auto check = [&](const PresetEntry &entry) {
            ++checked;
            return entry.name != row.refused;
        };
        EXPECT_FALSE(ReadPresetFile(QString::fromStdString(path), entries, fault, check));
        EXPECT_EQ(std::pair(fault.kind, fault.line), std::pair(row.kind, row.line));
        EXPECT_EQ(checked, row.checked);
    }
}
