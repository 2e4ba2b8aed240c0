#include "storage.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

// One INFO QUVFILESYS reply's volume lines: a disk with PJL, common, mixed and PostScript
// volumes, two flash stores and a network-card store.
const std::vector<std::string> kFileSystems = {
    "0:\t40000000\t39000000\tHDD0\tPCL",
    "1:\t40000000\t39000000\tHDD0\tCOMMON",
    "2:\t100\t50\tHDD0\tMIX\tDISK LABEL",
    "%disk0%\t40000000\t39000000\tHDD0\tPOSTSCRIPT",
    "%disk1%\t7\t7\tHDD1\tPSE",
    "3:\t8000\t100\tFLASH0\tFONTS",
    "%flash0%\t8000\t100\tFLASH0\tMIX",
    "%flash1%\t4000\t100\tFLASH1\tMIX",
    "%flash1%b\t4000\t100\tFLASH1",
    "4:\t10\t10\tNIC0",
    "no tabs and no words",
};

} // namespace

TEST(StorageDevices, NamesKindsAndNumbers) {
    struct Case {
        const char *line;
        const char *name;
        int kind;
    };
    const Case cases[] = {
        {"HDD0", "DISK0", kNodeDisk},  {"HDD1", "DISK1", kNodeDisk},
        {"HDD2", "HDD2", kNodeDisk},   {"HDD0 ", "HDD0 ", kNodeDisk},
        {"DISK3", "DISK3", kNodeDisk}, {"FLASH0", "FLASH0", kNodeFlash},
        {"NIC0", "NIC0", kNodeFlash},  {"", "", kNodeFlash},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(DeviceNodeName(c.line), c.name);
        EXPECT_EQ(DeviceNodeKind(c.line), c.kind);
    }
    EXPECT_EQ(FlashDeviceNumber("FLASH1"), 1);
    EXPECT_EQ(FlashDeviceNumber("NIC0"), 0);
    EXPECT_EQ(FlashDeviceNumber(""), -1);
    // A node is named up to its first blank, an entry up to " TYPE=".
    EXPECT_EQ(NodeNameOf("FLASH0 EXTRA"), "FLASH0");
    EXPECT_EQ(NodeNameOf("NOBLANK"), "NOBLANK");
    EXPECT_EQ(NodeNameOf("a b TYPE=DIR"), "a b");
    EXPECT_EQ(NodeNameOf(""), "");
}

TEST(StorageVolumes, LinesGiveTheirFieldsAndDefaults) {
    struct Case {
        const char *line;
        VolumeFields want;
    };
    const Case cases[] = {
        {"PJL_PART 0:\t400\t390\tHDD0\tPCL\tOK", {"0:", "400", "390", "HDD0", "PCL", "OK"}},
        {"COM_PART   1:\t400", {"1:", "400", "0", "", "", ""}},
        {"POS_PART %disk0%", {"%disk0%", "0", "0", "", "", ""}},
        {"PJL_PART 0:\t1\t2\t3\t4\t5\t6\t7", {"0:", "1", "2", "3", "4", "5"}},
        {"PJL_PART 0:\t\t\t", {"0:", "", "", "", "", ""}},
        {"NOBLANK", {"", "0", "0", "", "", ""}},
        {"", {"", "0", "0", "", "", ""}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const VolumeFields got = ParseVolumeLine(c.line);
        EXPECT_EQ(got.volume, c.want.volume);
        EXPECT_EQ(got.size, c.want.size);
        EXPECT_EQ(got.freeSpace, c.want.freeSpace);
        EXPECT_EQ(got.location, c.want.location);
        EXPECT_EQ(got.label, c.want.label);
        EXPECT_EQ(got.status, c.want.status);
    }
    // Whole strings: a volume of 300 characters stays whole.
    const std::string longVolume(300, 'v');
    EXPECT_EQ(ParseVolumeLine("PJL_PART " + longVolume + "\t1").volume, longVolume);
}

TEST(StorageVolumes, DiskFilterTagsItsOwnVolumes) {
    const std::vector<std::string> enabled = {
        "PJL_PART 0:\t40000000\t39000000\tHDD0\tPCL",
        "COM_PART 1:\t40000000\t39000000\tHDD0\tCOMMON",
        "MIX_PART 2:\t100\t50\tHDD0\tMIX\tDISK LABEL",
        "POS_PART %disk0%\t40000000\t39000000\tHDD0\tPOSTSCRIPT",
        "POS_PART %disk1%\t7\t7\tHDD1\tPSE",
    };
    EXPECT_EQ(DiskVolumeLines(kFileSystems, ""), enabled);
    EXPECT_EQ(DiskVolumeLines(kFileSystems, "ENABLE"), enabled);
    const std::vector<std::string> disabled(enabled.begin(), enabled.begin() + 3);
    EXPECT_EQ(DiskVolumeLines(kFileSystems, "DISABLE"), disabled);
    EXPECT_EQ(DiskVolumeLines(kFileSystems, "disable"), disabled);
    EXPECT_TRUE(DiskVolumeLines({}, "").empty());
    // A long line is tagged whole.
    const std::string longLine = "0:\t" + std::string(300, 'x') + "\tPCL";
    EXPECT_EQ(DiskVolumeLines({longLine}, ""), std::vector<std::string>{"PJL_PART " + longLine});
    EXPECT_EQ(ParseVolumeLine("PJL_PART " + longLine).size, std::string(300, 'x'));
}

TEST(StorageVolumes, FlashFilterTakesTheStoresOwnLines) {
    EXPECT_EQ(FlashVolumeLines(kFileSystems, "FLASH0", 0),
              (std::vector<std::string>{"COM_PART 3:\t8000\t100\tFLASH0\tFONTS",
                                        "POS_PART %flash0%\t8000\t100\tFLASH0\tPS "}));
    // The second line of FLASH1 has no MIX: it is still a PostScript volume.
    EXPECT_EQ(FlashVolumeLines(kFileSystems, "FLASH1", 1),
              (std::vector<std::string>{"POS_PART %flash1%\t4000\t100\tFLASH1\tPS ",
                                        "POS_PART %flash1%b\t4000\t100\tFLASH1"}));
    // Its lines with the digit 0 belong to no store numbered 1, and back.
    EXPECT_TRUE(FlashVolumeLines({"%flash1%\t1\t1\tFLASH0\tMIX FLASH1"}, "FLASH1", 1).empty());
    EXPECT_EQ(FlashVolumeLines(kFileSystems, "NIC0", 0),
              (std::vector<std::string>{"COM_PART 4:\t10\t10\tNIC0"}));
    EXPECT_TRUE(FlashVolumeLines(kFileSystems, "", -1).empty());
    EXPECT_TRUE(FlashVolumeLines(kFileSystems, "FLASH9", 9).empty());
}

TEST(StorageListing, LinesAreClassifiedByWhatTheyAre) {
    struct Case {
        std::string line;
        int kind;
    };
    const Case cases[] = {
        {"PJL_PART 0:\t1\t1\tHDD0\tPCL", kNodePjlVolume},
        {"COM_PART 1:\t1\t1\tHDD0\tCOMMON", kNodeCommonVolume},
        {"POS_PART %disk0%\t1\t1\tHDD0\tPOSTSCRIPT", kNodePostScriptVolume},
        // A mixed volume whose label holds DISK is a volume, not a disk.
        {"MIX_PART 2:\t100\t50\tHDD0\tMIX\tDISK LABEL", kNodeCommonVolume},
        // A flash PostScript line holding FLASH is a PostScript volume.
        {"POS_PART %flash1%b\t4000\t100\tFLASH1", kNodePostScriptVolume},
        // Entries go by their TYPE, whatever their names hold.
        {"COM_PART TYPE=FILE SIZE=3", kNodeFile},
        {"PJL_PART TYPE=DIR", kNodeDirectory},
        {"DISK TYPE=DIR", kNodeDirectory},
        {"a b TYPE=DIR", kNodeDirectory},
        {"fonts TYPE=DIR", kNodeDirectory},
        {"x.ps TYPE=FILE SIZE=12", kNodeFile},
        {"odd TYPE=DIRECTORY", kNodeFile},
        // Other lines by the words they hold.
        {"some DISK line", kNodeDisk},
        {"FLASH", kNodeFlash},
        {"NIC", kNodeFlash},
        {"MIX", kNodeCommonVolume},
        {"xPJL_PART", kNodePjlVolume},
        {"", kNodeFile},
        {std::string(300, 'z'), kNodeFile},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(ClassifyListingLine(c.line), c.kind);
    }
}

TEST(StoragePaths, DirectoriesAndDeleteNamesJoinAlike) {
    struct Case {
        const char *parent;
        const char *name;
        const char *joined;
    };
    const Case cases[] = {
        {"0:", "fonts", "0:\\fonts"},         {"0:\\50%", "x", "0:\\50%\\x"},
        {"%disk0%", "fonts", "%disk0%fonts"}, {"%disk0%fonts", "A.pfa", "%disk0%fonts/A.pfa"},
        {"%flash1%", "a b", "%flash1%a b"},   {"", "x", "\\x"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.parent);
        EXPECT_EQ(JoinStoragePath(c.parent, c.name), c.joined);
    }
    EXPECT_EQ(PostScriptListPrefix("%disk0%"), "%disk0%");
    EXPECT_EQ(PostScriptListPrefix("%disk0%fonts"), "%disk0%fonts/");
    EXPECT_TRUE(IsPostScriptPath("%flash0%x"));
    EXPECT_FALSE(IsPostScriptPath("0:\\50%"));
    // Whole strings: a 300-character name under a 300-character path.
    const std::string deep = JoinStoragePath(std::string(300, 'p'), std::string(300, 'n'));
    EXPECT_EQ(deep.size(), 601u);
}

TEST(StorageRows, NumbersAndEntries) {
    struct Number {
        const char *text;
        const char *normal;
    };
    const Number numbers[] = {
        {"-12x", "-12"},
        {"x", "0"},
        {"", "0"},
        {"5000000000", "5000000000"},
        {"  42", "42"},
        {"+7", "7"},
        {"-", "0"},
        {"99999999999999999999999", "9223372036854775807"},
        {"-99999999999999999999999", "-9223372036854775808"},
    };
    for (const Number &n : numbers) {
        SCOPED_TRACE(n.text);
        EXPECT_EQ(NormaliseNumber(n.text), n.normal);
    }
    struct Entry {
        std::string line;
        std::string name;
        std::optional<std::string> size;
    };
    const Entry entries[] = {
        {"x.ps TYPE=FILE SIZE=12", "x.ps", "12"},
        {"big TYPE=FILE SIZE=6000000000", "big", "6000000000"},
        {"odd TYPE=FILE SIZE=abc", "odd", "Unknown"},
        {"fonts TYPE=DIR", "fonts", std::nullopt},
        {"a b TYPE=FILE SIZE=1", "a b", "1"},
        {"SIZE=5 no type", "SIZE=5 no type", std::nullopt},
        {"50% TYPE=FILE SIZE=", "50%", "Unknown"},
        {std::string(300, 'n') + " TYPE=FILE SIZE=3", std::string(300, 'n'), "3"},
    };
    for (const Entry &e : entries) {
        SCOPED_TRACE(e.line);
        EXPECT_EQ(EntryName(e.line), e.name);
        EXPECT_EQ(EntrySize(e.line, "Unknown"), e.size);
    }
}

TEST(StorageDelete, CommandsNameExactlyTheirFile) {
    const std::string uel = "\x1b%-12345X";
    EXPECT_EQ(PjlDeleteCommand("0:\\pcl\\x.sfp"),
              "@PJL FSDELETE NAME = \"0:\\pcl\\x.sfp\" \r\n" + uel);
    EXPECT_EQ(PjlDeleteCommand("0:\\50%\\x"), "@PJL FSDELETE NAME = \"0:\\50%\\x\" \r\n" + uel);
    for (const char *bad : {"0:\\a\"b", "0:\\a\rb", "0:\\a\nb"})
        EXPECT_EQ(PjlDeleteCommand(bad), std::nullopt) << bad;
    EXPECT_EQ(PostScriptDeleteProgram("%disk0%x.ps"),
              uel + "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!Adobe-PS\r\n(%disk0%x.ps) deletefile\r\n" +
                  uel);
    EXPECT_EQ(PostScriptDeleteProgram("a)b"),
              uel + "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!Adobe-PS\r\n(a\\)b) deletefile\r\n" + uel);
}
