#include "partition.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::vector<FsRow> Rows(const std::vector<std::string> &lines) {
    return BuildFsRows(lines);
}

std::string Line(const std::string &volume, unsigned long long size, const std::string &location,
                 const std::string &label) {
    return volume + "\t" + std::to_string(size) + "\t0\t" + location + "\t" + label;
}

std::vector<FsRow> Disk(const std::vector<unsigned long long> &sizes) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < sizes.size(); ++i)
        lines.push_back(Line(std::to_string(i) + ":", sizes[i], "HDD0", "PCL"));
    return Rows(lines);
}

void ExpectValid(const Percentages &p, int step) {
    const int s = std::clamp(step, 1, 33);
    EXPECT_EQ(p[0] + p[1] + p[2], 100);
    for (int v : p) {
        EXPECT_GE(v, s);
        EXPECT_LE(v, 100 - 2 * s);
    }
}

} // namespace

TEST(FsVolumes, LinesGiveVolumeSizeLocationAndLabel) {
    struct Case {
        const char *line;
        const char *volume;
        unsigned long long size;
        const char *location;
        const char *label;
    };
    const Case cases[] = {
        {"0:\t40000000\t39000000\tHDD0\tPCL", "0:", 40000000, "HDD0", "PCL"},
        {"10:\t5\t1\tHDD0\tCOMMON\tMORE", "10:", 5, "HDD0", "COMMON"},
        {"%disk0%\t7\t7\tHDD0\tPOSTSCRIPT", "%disk0%", 7, "HDD0", "POSTSCRIPT"},
        {"%flash1%b\t4000\t100\tFLASH1", "%flash1%", 4000, "FLASH1", ""},
        {"%disk0:x%\t1\t1\tHDD0\tL", "%disk0:", 1, "HDD0", "L"},
        {"0:\t1234567890123456789012345\t0\tHDD0\tPCL", "0:", 0, "HDD0", "PCL"},
        {"0:\tabc\t0\tHDD0\tPCL\r", "0:", 0, "HDD0", "PCL"},
        {"no tabs and no words", "", 0, "", ""},
        {"", "", 0, "", ""},
        {"%one\t9", "", 9, "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const FsVolume v = ParseFsVolumeLine(c.line);
        EXPECT_EQ(v.volume, c.volume);
        EXPECT_EQ(v.size, c.size);
        EXPECT_EQ(v.location, c.location);
        EXPECT_EQ(v.label, c.label);
    }
    const FsVolume longLine =
        ParseFsVolumeLine(std::string(300, 'x') + ":\t5\t5\tHDD0\t" + std::string(300, 'L'));
    EXPECT_EQ(longLine.volume.size(), 301u);
    EXPECT_EQ(longLine.label.size(), 300u);
}

TEST(FsVolumes, RowsAndTheirImages) {
    const auto rows =
        Rows({"0:\t1\t1\tHDD0\tPCL", "10:\t1\t1\tHDD0\tCOMMON", "%disk0%\t1\t1\tHDD0\tPOSTSCRIPT",
              "%flash0%\t1\t1\tFLASH0\tMIX", "3:\t1\t1\tHDD0\tMIX", "4:\t1\t1\tNIC0\tMIX"});
    const std::vector<std::pair<std::string, int>> want = {
        {"1 = 0: - HDD0 - PCL", 4},
        {"2 = 10: - HDD0 - COMMON", 5},
        {"3 = %disk0% - HDD0 - POSTSCRIPT", 6},
        {"4 = %flash0% - FLASH0 - PS ", 6},
        {"5 = 3: - HDD0 - MIX", 5},
        {"6 = 4: - NIC0 - MIX", 5},
    };
    ASSERT_EQ(rows.size(), want.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].number, static_cast<int>(i) + 1);
        EXPECT_EQ(rows[i].text, want[i].first);
        EXPECT_EQ(rows[i].image, want[i].second);
    }
    // "PCL" wins over "flash"; a text keeps its "MIX" unless it holds "flash".
    std::string text = "flash PCL MIX";
    EXPECT_EQ(GetVolumeImage(text), 4);
    EXPECT_EQ(text, "flash PCL MIX");
    text = "flash MIX MIX";
    EXPECT_EQ(GetVolumeImage(text), 6);
    EXPECT_EQ(text, "flash PS  MIX");
}

TEST(FsPartitions, StepFromTheAttribute) {
    struct Case {
        const char *value;
        int step;
    };
    const Case cases[] = {{"", 1},     {"abc", 1},           {"0", 1},     {"5%", 5},
                          {"34%", 33}, {"50%", 33},          {"100%", 33}, {"ENABLE", 1},
                          {"-5%", 1},  {"999999999999%", 33}};
    for (const Case &c : cases)
        EXPECT_EQ(PartitionStep(true, c.value), c.step) << c.value;
    EXPECT_EQ(PartitionStep(false, "5%"), 1);
}

TEST(FsPartitions, DefaultsFromTheDisksVolumes) {
    struct Case {
        const char *name;
        std::vector<FsRow> rows;
        int step;
        Percentages want;
    };
    auto flashFirst =
        Rows({Line("%flash0%", 1000000, "FLASH0", "MIX"), Line("0:", 50, "HDD0", "PCL"),
              Line("1:", 30, "HDD0", "COMMON"), Line("%disk0%", 20, "HDD0", "POSTSCRIPT")});
    auto otherDisk = Rows({Line("0:", 50, "HDD1", "PCL"), Line("1:", 50, "HDD1", "PCL")});
    const Case cases[] = {
        {"50/30/20 s5", Disk({50, 30, 20}), 5, {50, 30, 20}},
        {"1/1/1 s1", Disk({1, 1, 1}), 1, {33, 33, 34}},
        {"61/39 s5", Disk({61, 39}), 5, {55, 40, 5}},
        {"101/99 s1", Disk({101, 99}), 1, {49, 50, 1}},
        {"flash row first", flashFirst, 5, {50, 30, 20}},
        {"no HDD0 row", otherDisk, 1, {0, 0, 0}},
        {"no rows", {}, 1, {0, 0, 0}},
        {"one row", Disk({7}), 1, {98, 1, 1}},
        {"four rows", Disk({25, 25, 25, 25}), 1, {25, 25, 50}},
        {"zero sizes", Disk({0, 0, 0}), 1, {0, 0, 0}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(DefaultPartitions(c.rows, c.step), c.want) << c.name;
}

TEST(FsPartitions, DefaultsEndInBoundsForEveryStepAndRowCount) {
    const std::vector<std::vector<unsigned long long>> disks = {
        {}, {1}, {1, 1}, {1, 1, 1}, {61, 39}, {101, 99}, {90, 5, 5}, {1, 0, 0}, {~0ull, ~0ull, 5}};
    for (int step = 0; step <= 100; ++step) {
        for (const auto &sizes : disks) {
            SCOPED_TRACE(std::to_string(step) + " / " + std::to_string(sizes.size()));
            const Percentages p = DefaultPartitions(Disk(sizes), step);
            if (p != Percentages{0, 0, 0}) {
                ExpectValid(p, step);
            }
        }
    }
}

TEST(FsPartitions, EntireDiskBalancing) {
    EXPECT_EQ(BalancePartitions({60, 60, 60}, 1), (Percentages{1, 39, 60}));
    const auto s7 = BalancePartitions({60, 60, 60}, 7);
    ASSERT_TRUE(s7);
    ExpectValid(*s7, 7);
    EXPECT_EQ(*s7, (Percentages{18, 25, 57}));
    EXPECT_EQ(BalancePartitions({0, 0, 0}, 0), (Percentages{98, 1, 1}));
    EXPECT_EQ(BalancePartitions({-5, 1000000, 3}, 1), (Percentages{1, 96, 3}));
    EXPECT_EQ(BalancePartitions({50, 30, 20}, 5), (Percentages{50, 30, 20}));
    // Step 33 leaves only 33 and 34: three 34s cannot be brought to 100 by steps.
    EXPECT_EQ(BalancePartitions({34, 34, 34}, 33), std::nullopt);
    for (int step = 0; step <= 100; ++step)
        for (int a : {0, 1, 33, 60, 100, 1000})
            for (int b : {0, 7, 50, 99})
                if (auto p = BalancePartitions({a, b, 60}, step)) {
                    ExpectValid(*p, step);
                }
}

TEST(FsPartitions, SpinsKeepBoundsLocksAndTheSum) {
    std::mt19937 random(26);
    for (int step = 1; step <= 33; ++step) {
        const int low = step, high = 100 - 2 * step;
        for (int trial = 0; trial < 40; ++trial) {
            // A random valid start.
            Percentages p;
            do {
                p[0] = std::uniform_int_distribution<int>(low, high)(random);
                p[1] = std::uniform_int_distribution<int>(low, high)(random);
                p[2] = 100 - p[0] - p[1];
            } while (p[2] < low || p[2] > high);
            for (unsigned mask = 0; mask < 8; ++mask) {
                for (int index = 0; index < 3; ++index) {
                    for (int direction : {1, -1}) {
                        const Percentages q = SpinPartition(p, index, direction, step, mask);
                        ExpectValid(q, step);
                        for (int i = 0; i < 3; ++i) {
                            if (mask & (1u << i)) {
                                EXPECT_EQ(q[i], p[i]);
                            }
                        }
                        const bool othersLocked = (mask | (1u << index)) == 7;
                        if ((mask & (1u << index)) || othersLocked) {
                            EXPECT_EQ(q, p);
                        } else if (q != p) {
                            EXPECT_EQ(q[index], p[index] + direction * step);
                        }
                    }
                }
            }
        }
    }
    // The next partition in the order 1, 2, 3, 1 takes the step first, the remaining one after.
    EXPECT_EQ(SpinPartition({50, 30, 20}, 0, 1, 5, 0), (Percentages{55, 25, 20}));
    EXPECT_EQ(SpinPartition({50, 30, 20}, 2, 1, 5, 0), (Percentages{45, 30, 25}));
    EXPECT_EQ(SpinPartition({50, 30, 20}, 0, 1, 5, 2), (Percentages{55, 30, 15}));
    EXPECT_EQ(SpinPartition({50, 45, 5}, 0, 1, 5, 4), (Percentages{55, 40, 5}));
    EXPECT_EQ(SpinPartition({50, 5, 45}, 0, 1, 5, 4), (Percentages{50, 5, 45})); // nothing can give
    EXPECT_EQ(SpinPartition({90, 5, 5}, 0, 1, 5, 0), (Percentages{90, 5, 5}));   // at its top
    EXPECT_EQ(SpinPartition({50, 30, 20}, 3, 1, 5, 0), (Percentages{50, 30, 20}));
}

TEST(FsFlash, AreaValueAndLimit) {
    const auto rows =
        Rows({Line("3:", 300, "FLASH0", "MIX"), Line("%flash0%", 100, "FLASH0", "MIX"),
              Line("5:", 0, "FLASH1", "MIX"), Line("%flash1%", 0, "FLASH1", "MIX")});
    // rows[0] "MIX": b = 300, a = 100 (next holds "flash"); rows[1] (now "PS "): a = 100, b = 300.
    EXPECT_EQ(FlashAreaValue(rows, 0, true), 25u);
    EXPECT_EQ(FlashAreaValue(rows, 1, true), 25u);
    EXPECT_EQ(FlashAreaValue(rows, 1, false), 100u);
    EXPECT_EQ(FlashAreaValue(rows, 3, true), 0u); // a + b = 0
    const auto first = Rows({Line("%flash0%", 100, "FLASH0", "MIX")});
    EXPECT_EQ(FlashAreaValue(first, 0, true), 100u); // no row above: b = 0
    EXPECT_EQ(FlashAreaValue(first, 1, true), 0u);
    EXPECT_EQ(FlashAreaLimit(first, 0), 0u); // no row below
    EXPECT_EQ(FlashAreaLimit(rows, 1), 0u);
    EXPECT_EQ(FlashAreaLimit(rows, 0), 300u);
    const auto huge =
        Rows({Line("3:", ~0ull, "FLASH0", "MIX"), Line("%flash0%", ~0ull, "FLASH0", "MIX")});
    EXPECT_EQ(FlashAreaValue(huge, 1, true), 50u);

    struct Case {
        const char *text;
        std::optional<int> value;
    };
    const Case sizes[] = {{"50", 50},
                          {"0", 0},
                          {"", std::nullopt},
                          {"abc", std::nullopt},
                          {"-5", std::nullopt},
                          {"2147483647", 2147483647},
                          {"2147483648", std::nullopt},
                          {"99999999999999", std::nullopt}};
    for (const Case &c : sizes)
        EXPECT_EQ(ParseAreaSize(c.text), c.value) << c.text;
    EXPECT_TRUE(FlashAreaFits(100, true, 0));
    EXPECT_FALSE(FlashAreaFits(101, true, 1000));
    EXPECT_TRUE(FlashAreaFits(99, false, 100));
    EXPECT_FALSE(FlashAreaFits(100, false, 100));
    EXPECT_FALSE(FlashAreaFits(0, false, 0));
}

TEST(FsFlash, Locations) {
    EXPECT_EQ(FlashLocation("1 = %flash0% - FLASH0 - PS "), "FLASH0");
    EXPECT_EQ(FlashLocation("1 = 4: - NIC1 - MIX"), "NIC1");
    EXPECT_EQ(FlashLocation("1 = 3: - HDD0 - MIX"), "");
    EXPECT_EQ(FlashLocation("FLASH"), "");
    EXPECT_TRUE(IsFlashRow("x NIC0"));
    EXPECT_FALSE(IsFlashRow("x flash0"));
    EXPECT_TRUE(IsFlashChoice("x flash0"));
    EXPECT_TRUE(IsFlashChoice("x HDD0 - MIX"));
    EXPECT_FALSE(IsFlashChoice("x HDD0 - PCL"));
    EXPECT_EQ(NumberAfter("%disk12%", "disk"), 12);
    EXPECT_EQ(NumberAfter("%disk%", "disk"), std::nullopt);
    EXPECT_EQ(NumberAfter("flash", "flash"), std::nullopt);
    EXPECT_EQ(NumberAfter("disk1234567890", "disk"), std::nullopt);
}

TEST(FsFormat, EveryRowAndRadio) {
    const auto rows = Rows({
        "0:\t1\t1\tHDD0\tPCL",             // 1
        "1:\t1\t1\tHDD0\tCOMMON",          // 2
        "%disk1%\t1\t1\tHDD0\tPOSTSCRIPT", // 3
        "2:\t1\t1\tHDD0\tMIX",             // 4: an HDD MIX row, no number after "disk"
        "%flash2%\t1\t1\tFLASH2\tMIX",     // 5: shown as PostScript
        "3:\t1\t1\tFLASH0\tMIX",           // 6
        "4:\t1\t1\tNIC0\tPOSTSCRIPT",      // 7: no "flash" number
        "10:\t1\t1\tHDD0\tPCL",            // 8
    });
    using K = FormatCommand::Kind;
    struct Case {
        int row;
        int radio;
        K kind;
        const char *command;
        int file;
    };
    const Case cases[] = {
        {0, kRadioPcl, K::kCommand, "@PJL FSINIT VOLUME=\"0:\"\r\n", 0},
        {0, kRadioCommon, K::kCommand, "@PJL DEFAULT QUVHDD01=COMMON\r\n", 0},
        {0, kRadioPostScript, K::kCommand, "@PJL DEFAULT QUVHDD01=PS\r\n", 0},
        {1, kRadioCommon, K::kCommand, "@PJL FSINIT VOLUME=\"1:\"\r\n", 0},
        {1, kRadioPcl, K::kCommand, "@PJL DEFAULT QUVHDD02=PCL\r\n", 0},
        {1, kRadioPostScript, K::kCommand, "@PJL DEFAULT QUVHDD02=PS\r\n", 0},
        {2, kRadioPostScript, K::kDiskFile, "", 1},
        {2, kRadioPcl, K::kCommand, "@PJL DEFAULT QUVHDD03=PCL\r\n", 0},
        {2, kRadioCommon, K::kCommand, "@PJL DEFAULT QUVHDD03=COMMON\r\n", 0},
        {3, kRadioPostScript, K::kRefused, "", 0},
        {3, kRadioPcl, K::kCommand, "@PJL DEFAULT QUVHDD04=PCL\r\n", 0},
        {4, kRadioPostScript, K::kFlashFile, "", 2},
        {4, kRadioCommon, K::kFlashFile, "", 2},
        {5, kRadioCommon, K::kCommand, "@PJL FSINIT VOLUME=\"3:\"\r\n", 0},
        {5, kRadioNone, K::kCommand, "@PJL FSINIT VOLUME=\"3:\"\r\n", 0},
        {6, kRadioPostScript, K::kRefused, "", 0},
        {7, kRadioPcl, K::kCommand, "@PJL FSINIT VOLUME=\"10:\"\r\n", 0},
        {0, kRadioNone, K::kRefused, "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(rows[static_cast<std::size_t>(c.row)].text + " radio " +
                     std::to_string(c.radio));
        const FormatCommand f = ChooseFormatCommand(rows[static_cast<std::size_t>(c.row)], c.radio);
        EXPECT_EQ(f.kind, c.kind);
        EXPECT_EQ(f.command, c.command);
        if (c.kind == K::kDiskFile || c.kind == K::kFlashFile) {
            EXPECT_EQ(f.fileNumber, c.file);
        }
    }
    // A volume-less row and a quote in the volume send no FSINIT.
    const auto odd = Rows({"junk\t1\t1\tHDD0\tPCL", "a\"b:\t1\t1\tHDD0\tPCL"});
    EXPECT_EQ(ChooseFormatCommand(odd[0], kRadioPcl).kind, K::kRefused);
    EXPECT_EQ(ChooseFormatCommand(odd[1], kRadioPcl).kind, K::kRefused);
    EXPECT_EQ(FsAssignCommand("FLASH0", 25),
              "@PJL QUVFSASSIGN TYPE=PSFILE LOCATION=FLASH0 SIZE=25\r\n");
    EXPECT_EQ(FlashInitialiseCommand("NIC0"), "@PJL QUVINITIALIZE NIC0\r\n");
}
