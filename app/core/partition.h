// Volume initialisation and hard-disk partitioning rules: the file-system reply's volume
// lines, the rows built from them, the partition step, default and balanced percentages,
// the spins, the flash PostScript area and the Format Partition command. No Windows header.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One line of the INFO QUVFILESYS reply: the volume, then TAB-separated size, free space,
// location and label.
struct FsVolume {
    std::string volume; // up to and including the first ':' or the second '%'; empty without
    std::uint64_t size =
        0; // decimal digits after the volume and its TAB; 0 when absent or too large
    std::string location;
    std::string label;
};
FsVolume ParseFsVolumeLine(std::string_view line);

// A row of the volume list: its number (from 1), the parsed line and the row text
// "n = volume - location - label" with GetVolumeImage applied.
struct FsRow {
    int number = 0;
    FsVolume volume;
    std::string text;
    int image = 0;
};
// The image of a row text: 4 with "PCL"; without "flash" 6 with "disk", else 5; with
// "flash" 6, and the first "MIX" of the text becomes "PS ".
int GetVolumeImage(std::string &text);
std::vector<FsRow> BuildFsRows(const std::vector<std::string> &lines);

// The sum of the sizes of the rows located on "HDD0" (saturating).
std::uint64_t DiskTotal(const std::vector<FsRow> &rows);

// The partition step: the number at the start of HDDASSIGN when the attributes were read,
// kept within 1..33 (so that 100 - 2 * step stays at or above the step); else 1.
int PartitionStep(bool attributesRead, std::string_view hddAssign);

using Percentages = std::array<int, 3>;

// The lowest and highest percentage of one partition.
inline int MinPercent(int step) {
    return step;
}
inline int MaxPercent(int step) {
    return 100 - 2 * step;
}

// Entire Disk's balancing: each value into step..100-2*step, then steps taken from (or
// given to) P1, then P2, then P3 until the sum is 100. When the step does not divide the
// gap, P3 takes up the rest if it stays within bounds; otherwise empty.
std::optional<Percentages> BalancePartitions(Percentages p, int step);

// The defaults of the three partitions from the first three rows on "HDD0": each share of
// the disk total rounded (halves up), raised to a multiple of the step, P3 grown or shrunk
// by steps toward a sum of 100, then balanced. All 0 when the total is 0 or when balancing
// fails.
Percentages DefaultPartitions(const std::vector<FsRow> &rows, int step);

// One click of partition `index`'s spin (0..2) by one step up (direction > 0) or down: the
// next unlocked partition in the order 1, 2, 3, 1 gives or takes the step, else the
// remaining one. Bit i of lockMask locks partition i. Nothing changes when the partition
// is locked, when its value would leave the bounds, or when neither other can absorb it.
Percentages SpinPartition(Percentages p, int index, int direction, int step, unsigned lockMask);

// The flash size edit for row `index`: for a "MIX" row b = its size and a = the size of
// the next row when that holds "flash"; for another row a = its size and b = the size of
// the row above (0 for the first). a * 100 / (a + b) (0 when both are 0) when the
// attributes were read, else a.
std::uint64_t FlashAreaValue(const std::vector<FsRow> &rows, std::size_t index,
                             bool attributesRead);

// The size that limits the PostScript area of row `index` on a printer without
// attributes: the row's own, or for a row holding "flash" the one below it (0 for none).
std::uint64_t FlashAreaLimit(const std::vector<FsRow> &rows, std::size_t index);

// The flash size edit's text as a value the printer can take: digits only, at most
// 0x7FFFFFFF; empty otherwise.
std::optional<int> ParseAreaSize(std::string_view text);
// True when `value` fits: at most 100 (percent) with attributes, else below `limit` bytes.
bool FlashAreaFits(int value, bool attributesRead, std::uint64_t limit);

// The flash device of a row text: the first "FLASH" and the character after it, else the
// first "NIC" and the character after it; empty without either.
std::string FlashLocation(std::string_view text);
// True for a flash row: one holding "FLASH" or "NIC".
bool IsFlashRow(std::string_view text);
// True for a row the volume list treats as flash when chosen: "MIX", "flash" or "FLASH".
bool IsFlashChoice(std::string_view text);

// The number written right after the first `word` in text; empty without digits there.
std::optional<int> NumberAfter(std::string_view text, std::string_view word);

enum FormatRadio { kRadioNone = -1, kRadioPcl = 0, kRadioCommon = 1, kRadioPostScript = 2 };

// What Format Partition sends for a row and the checked radio.
struct FormatCommand {
    enum Kind { kRefused, kCommand, kDiskFile, kFlashFile } kind = kRefused;
    std::string command; // kCommand: the PJL line with CR LF
    int fileNumber = 0;  // kDiskFile: ZqInitd<n>.DAT, kFlashFile: ZqInitf<n>.DAT
};
// Refused (nothing to send) for a volume-less row where the volume is needed, for no radio
// where the radio decides, and for a data file whose number the text does not give.
FormatCommand ChooseFormatCommand(const FsRow &row, int radio);

// "@PJL FSINIT VOLUME="<volume>"" CR LF; empty for a volume holding '"', CR or LF.
std::optional<std::string> FsInitCommand(std::string_view volume);
// "@PJL QUVFSASSIGN TYPE=PSFILE LOCATION=<location> SIZE=<size>" CR LF.
std::string FsAssignCommand(std::string_view location, int size);
// "@PJL QUVINITIALIZE <location>" CR LF.
std::string FlashInitialiseCommand(std::string_view location);
