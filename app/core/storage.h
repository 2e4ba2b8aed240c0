// The storage tree's line rules: device and volume lines, the volume filters of disks and
// flash stores, paths, the kinds of listing lines, list rows and delete commands. No
// Windows header; every text is a whole string, never cut.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A storage-tree node's kind, also its image index in the application's icon lists.
enum StorageNodeKind : int {
    kNodePrinter = 1,
    kNodeDisk = 2,
    kNodeFlash = 3,
    kNodePjlVolume = 4,
    kNodeCommonVolume = 5,
    kNodePostScriptVolume = 6,
    kNodeDirectory = 7,
    kNodeFile = 10,
};

// ---- Device lines ("LOCK STATUS" names of INFO CONFIG) ----
// "HDD0" and "HDD1" are shown as "DISK0" and "DISK1"; any other name as it is.
std::string DeviceNodeName(std::string_view line);
// kNodeDisk for a name holding "DISK" or "HDD", else kNodeFlash.
int DeviceNodeKind(std::string_view line);
// The number of a flash store: its line's last character minus '0'; -1 for an empty line.
int FlashDeviceNumber(std::string_view line);

// A node's name from its line: an entry line ("a b TYPE=DIR") names the text before its
// first " TYPE="; any other line the text up to its first blank (all of it without one).
std::string NodeNameOf(std::string_view line);

// ---- Volume lines ("<TAG> <volume>\t<size>\t<free>\t<location>\t<label>\t<status>") ----
struct VolumeFields {
    std::string volume;
    std::string size = "0";
    std::string freeSpace = "0";
    std::string location;
    std::string label;
    std::string status;
};
VolumeFields ParseVolumeLine(std::string_view taggedLine);

// The tagged volume lines of a disk from the INFO QUVFILESYS lines, in reply order.
// PostScript volumes are left out when psMenu is "DISABLE" (any case).
std::vector<std::string> DiskVolumeLines(const std::vector<std::string> &lines,
                                         std::string_view psMenu);
// The tagged volume lines of the flash store (or network-card store) named `name`, of
// number `number`.
std::vector<std::string> FlashVolumeLines(const std::vector<std::string> &lines,
                                          std::string_view name, int number);

// ---- Listing lines ----
// The node kind of a line of a ListChildren result: an entry line takes the word after its
// first " TYPE=" (DIR kNodeDirectory, else kNodeFile); a line beginning with a volume tag
// the tag's kind (PJL_PART 4, COM_PART 5, MIX_PART 5, POS_PART 6); other lines by the words
// they hold.
int ClassifyListingLine(std::string_view line);

// ---- Paths ----
// True for a PostScript path: one holding "%disk" or "%flash".
bool IsPostScriptPath(std::string_view path);
// parent + separator + name: '\' under a PJL path, nothing after a PostScript path ending in
// '%', '/' under any other PostScript path. Directories and delete names alike.
std::string JoinStoragePath(std::string_view parent, std::string_view name);
// The PostScript listing prefix of a PostScript path: the path, '/' behind it unless it
// ends in '%'.
std::string PostScriptListPrefix(std::string_view path);

// ---- List rows ----
// The decimal text of a number text: blanks, an optional sign and the leading digits, as a
// 64-bit value (larger values capped); "0" when there is no number.
std::string NormaliseNumber(std::string_view text);
// An entry line's name: the text before " TYPE=" (the whole line without one).
std::string EntryName(std::string_view line);
// The Size column of an entry line: the number after "SIZE=" (behind the name), empty
// optional without "SIZE=", `unknown` when no number follows it.
std::optional<std::string> EntrySize(std::string_view line, std::string_view unknown);

// ---- Deleting ----
// "@PJL FSDELETE NAME = "<name>" " CR LF and the UEL; empty optional for a name holding
// '"', CR or LF, which would end the command.
std::optional<std::string> PjlDeleteCommand(std::string_view name);
// The PostScript program that deletes `name` (escaped), framed by UELs.
std::string PostScriptDeleteProgram(std::string_view name);
