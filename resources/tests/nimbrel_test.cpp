// nimbrel as velmar sees it: loaded with LoadLibraryA from the program folder, every
// resource looked up by type, number and language. Expected values are literals.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "module_access.h"
#include "suite_paths.h"
#include "template_reader.h"

namespace {

using restest::kEnglishUk;
using restest::kEnglishUs;
using restest::RawString;
using restest::ResourceBytes;

constexpr WORD kRtToolbar = 241;
constexpr DWORD kStaticId = 0xFFFFFFFF;

class Nimbrel : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        const std::string path = suite::BinPath("nimbrel.dll");
        module_ = LoadLibraryA(path.c_str());
        ASSERT_NE(module_, nullptr) << path << ": error " << GetLastError();
    }
    static void TearDownTestSuite() {
        if (module_)
            FreeLibrary(module_);
        module_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(module_, nullptr); }

    static HMODULE module_;
};
HMODULE Nimbrel::module_ = nullptr;

// ---- the catalogue --------------------------------------------------------------------

struct Entry {
    const char *kind;
    WORD type;
    WORD id;
    LANGID lang;
};

std::vector<Entry> Catalogue() {
    std::vector<Entry> all;
    for (WORD id : {100, 124, 125, 130, 132, 133, 134, 136, 138, 140, 142, 143, 145, 149, 158})
        all.push_back({"dialog", 5, id, kEnglishUk});
    all.push_back({"dialog", 5, 30721, kEnglishUs});
    all.push_back({"dialog", 5, 30734, kEnglishUs});
    all.push_back({"menu", 4, 109, kEnglishUk});
    all.push_back({"accelerators", 9, 109, kEnglishUk});
    all.push_back({"toolbar", kRtToolbar, 109, kEnglishUk});
    all.push_back({"bitmap", 2, 109, kEnglishUk});
    all.push_back({"bitmap", 2, 30994, kEnglishUs});
    all.push_back({"bitmap", 2, 30996, kEnglishUs});
    for (WORD id : {30977, 30979, 30980, 30981, 30982})
        all.push_back({"cursor group", 12, id, kEnglishUs});
    for (WORD id = 30998; id <= 31011; ++id)
        all.push_back({"cursor group", 12, id, kEnglishUs});
    for (WORD id : {109, 110, 111})
        all.push_back({"icon group", 14, id, kEnglishUk});
    all.push_back({"version", 16, 1, kEnglishUk});
    return all;
}

// Every string id the application and the framework ask for.
std::vector<unsigned> StringIds() {
    std::vector<unsigned> ids;
    auto range = [&](unsigned first, unsigned last) {
        for (unsigned id = first; id <= last; ++id)
            ids.push_back(id);
    };
    range(101, 106);
    range(108, 112);
    range(115, 117);
    range(126, 131);
    ids.push_back(1078);
    ids.push_back(1080);
    range(10000, 10105);
    range(10109, 10148);
    range(57344, 57345);
    for (unsigned id : {57600, 57601, 57603, 57604, 57616, 57649, 57650, 57651, 57664, 57665})
        ids.push_back(id);
    range(59136, 59141);
    ids.push_back(59397);
    range(59408, 59413);
    range(61440, 61446);
    return ids;
}

TEST_F(Nimbrel, EveryCatalogueEntryHasItsNumberTypeAndLanguage) {
    for (const Entry &e : Catalogue()) {
        EXPECT_FALSE(ResourceBytes(module_, MAKEINTRESOURCEA(e.type), e.id, e.lang).empty())
            << "missing " << e.kind << " " << e.id << " (type " << e.type << ", language " << e.lang
            << ")";
    }
    for (unsigned id : StringIds())
        EXPECT_TRUE(RawString(module_, id, kEnglishUk)) << "missing string " << id;
}

struct Enumerated {
    std::set<std::tuple<WORD, WORD, LANGID>> named; // (type, id, language)
    std::map<WORD, std::map<LANGID, int>> images;   // RT_ICON / RT_CURSOR: count per language
    bool nameNotNumber = false;
};

BOOL CALLBACK OnLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD lang, LONG_PTR param) {
    auto *out = reinterpret_cast<Enumerated *>(param);
    const WORD t = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(type));
    const WORD n = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
    if (t == 1 || t == 3)
        ++out->images[t][lang];
    else
        out->named.insert({t, n, lang});
    return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
    if (!IS_INTRESOURCE(name))
        reinterpret_cast<Enumerated *>(param)->nameNotNumber = true;
    EnumResourceLanguagesA(module, type, name, OnLanguage, param);
    return TRUE;
}

BOOL CALLBACK OnType(HMODULE module, LPSTR type, LONG_PTR param) {
    if (!IS_INTRESOURCE(type))
        reinterpret_cast<Enumerated *>(param)->nameNotNumber = true;
    EnumResourceNamesA(module, type, OnName, param);
    return TRUE;
}

TEST_F(Nimbrel, HoldsExactlyTheCatalogueInItsLanguages) {
    Enumerated found;
    EnumResourceTypesA(module_, OnType, reinterpret_cast<LONG_PTR>(&found));
    EXPECT_FALSE(found.nameNotNumber) << "a resource type or name is a text";

    std::set<std::tuple<WORD, WORD, LANGID>> expected;
    for (const Entry &e : Catalogue())
        expected.insert({e.type, e.id, e.lang});
    for (unsigned id : StringIds())
        expected.insert({6, static_cast<WORD>(id / 16 + 1), kEnglishUk});
    for (const auto &[type, id, lang] : found.named)
        EXPECT_TRUE(expected.count({type, id, lang}))
            << "unexpected resource type " << type << " id " << id << " language " << lang;
    for (const auto &[type, id, lang] : expected)
        EXPECT_TRUE(found.named.count({type, id, lang}))
            << "missing resource type " << type << " id " << id << " language " << lang;

    // Icon images (two sizes for each of three groups) in 2057, cursor images in 1033.
    EXPECT_EQ(found.images[3], (std::map<LANGID, int>{{kEnglishUk, 6}}));
    EXPECT_EQ(found.images[1], (std::map<LANGID, int>{{kEnglishUs, 19}}));
}

// ---- dialogs ---------------------------------------------------------------------------

struct ControlSpec {
    DWORD id;
    const char *className;
    DWORD styleSet = 0;         // bits that must be set
    DWORD styleClear = 0;       // bits that must be clear
    const char *text = nullptr; // template text, when the owner fixes it
};

struct DialogSpec {
    WORD id;
    LANGID lang;
    const char *caption; // nullptr: child style, no caption
    short cx, cy;        // 0: free
    bool help;
    std::vector<ControlSpec> controls;
};

constexpr DWORD kOff = WS_DISABLED;
constexpr DWORD kHidden = WS_VISIBLE;
const ControlSpec kHelp{153, "Button"};
const ControlSpec kOk{1, "Button"};
const ControlSpec kExit{2, "Button"};

std::vector<DialogSpec> Dialogs() {
    return {
        {100,
         kEnglishUk,
         "About Kelvane",
         260,
         106,
         false,
         {{1081, "Static", 0, 0, "Kelvane Version"},
          {1082, "Static", 0, 0, ""},
          {1, "Button", 0, 0, "Exit"}}},
        {124,
         kEnglishUk,
         "Wyr - Add/Remove Printers",
         183,
         213,
         true,
         {{1055, "Edit"},
          {1000, "SysIPAddress32"},
          {1053, "Button", kOff},
          {1054, "Button", kOff},
          {1052, "SysListView32"},
          kExit,
          kHelp}},
        {125,
         kEnglishUk,
         "Edit Component Name and ID",
         186,
         117,
         true,
         {{1002, "Edit"},
          {1003, "Edit", ES_NUMBER},
          {1004, "Edit"},
          {1005, "Edit"},
          kOk,
          kExit,
          kHelp}},
        {130, kEnglishUk, nullptr, 187, 95, false, {{1004, "SysListView32"}}},
        {132,
         kEnglishUk,
         "HDD Print Jobs",
         344,
         236,
         true,
         {{1008, "Edit", kOff | ES_PASSWORD},
          {1009, "Edit", kOff | ES_PASSWORD},
          {1044, "Button"},
          {155, "Button", BS_AUTORADIOBUTTON},
          {156, "Button", BS_AUTORADIOBUTTON},
          {154, "Button"},
          {1006, "Button", BS_AUTOCHECKBOX},
          {1007, "Button", BS_AUTOCHECKBOX},
          {1045, "SysListView32"},
          {4, "Button"},
          {6, "Button"},
          kExit,
          {1094, "Static", 0, 0, " ( 0000-7777 )"},
          kHelp}},
        {133,
         kEnglishUk,
         "Kelvane - Administrator's Functions",
         300,
         127,
         true,
         {{1011, "Edit", ES_PASSWORD},
          {1069, "Button", kOff},
          {1060, "Button", kOff},
          {1057, "Button", kOff},
          {157, "Button", kOff},
          kExit,
          kHelp}},
        {134,
         kEnglishUk,
         " Filter Printer Patterns",
         292,
         266,
         true,
         {{1020, "Button"},
          {1021, "Button"},
          {1022, "Button"},
          {1024, "Button"},
          {1023, "Button"},
          {1025, "Button"},
          {1026, "Button"},
          {1027, "Button"},
          {1028, "Button"},
          {1030, "Button"},
          {1029, "Button"},
          {1031, "Button"},
          {1032, "Button"},
          {1034, "Button"},
          {1033, "Button"},
          {1035, "Button"},
          {1083, "Button"},
          {1084, "Button", 0, kHidden, "Print Direction"},
          {1085, "Button"},
          {1038, "Button"},
          {1039, "Button"},
          {1040, "Button"},
          {1041, "Button"},
          {1042, "Button"},
          {1043, "Button"},
          {1076, "Button"},
          {1036, "Button"},
          {1037, "Button"},
          {1090, "Button"},
          kOk,
          kExit,
          kHelp}},
        {136, kEnglishUk, "Printer Properties", 187, 189, false, {kOk, {137, "SysTreeView32"}}},
        {138,
         kEnglishUk,
         "Wyr - Printer Discovery",
         216,
         229,
         true,
         {{1, "Button", BS_DEFPUSHBUTTON},
          kExit,
          {1002, "Button"},
          {1003, "Button"},
          {1001, "Button"},
          {1054, "Static", 0, 0, "Discovering Printers on "},
          {1051, "Static", 0, 0, "Local Ports"},
          {1087, "SysIPAddress32"},
          {1088, "Button"},
          {1086, "ListBox"},
          {1089, "Button"},
          {1092, "Button"},
          kHelp}},
        {140, kEnglishUk, "Wyr - Delete File", 190, 71, true, {{1061, "Edit"}, kOk, kExit, kHelp}},
        {142,
         kEnglishUk,
         "Wyr - Format Partition",
         237,
         247,
         true,
         {{1, "Button", kOff},
          {1062, "SysListView32"},
          {1070, "Button", BS_AUTORADIOBUTTON},
          {1071, "Button", BS_AUTORADIOBUTTON},
          {1072, "Button", BS_AUTORADIOBUTTON},
          {1074, "Button"},
          {1075, "Button"},
          {1067, "Edit", kOff, kHidden},
          {1068, "Static", kOff, kHidden, "Flash PostScript Volume Size"},
          {1095, "Static", kOff, kHidden},
          {1116, "Button", kOff | BS_GROUPBOX, kHidden, "HDD Partitioning"},
          {1109, "Edit", kOff, kHidden},
          {1111, "Edit", kOff, kHidden},
          {1113, "Edit", kOff, kHidden},
          {1110, "msctls_updown32", kOff, kHidden},
          {1112, "msctls_updown32", kOff, kHidden},
          {1114, "msctls_updown32", kOff, kHidden},
          {1115, "Button", kOff, kHidden, "Lock Partition 1"},
          {1101, "Button", kOff, kHidden, "Lock Partition 2"},
          {1102, "Button", kOff, kHidden, "Lock Partition 3"},
          {1117, "Button", kOff | BS_GROUPBOX, kHidden, "Flash Memory Partitioning"},
          kHelp,
          kExit}},
        {143,
         kEnglishUk,
         "Kelvane - Test Macros",
         185,
         92,
         true,
         {{1063, "Edit"},
          {1064, "Static", 0, 0,
           "Enter the ID values separated by commas.       Example 01, 32129, 9"},
          {1065, "Static", 0, 0, "Macro IDs"},
          {1066, "Button", BS_AUTOCHECKBOX, 0, "Add Form Feed"},
          kOk,
          kExit,
          kHelp}},
        {145,
         kEnglishUk,
         "Print Demo Page",
         171,
         109,
         true,
         {{146, "SysListView32"}, kOk, kExit, kHelp}},
        {149, kEnglishUk, "Kelvane", 164, 55, true, {{1011, "Edit", ES_PASSWORD}, kExit, kHelp}},
        {158,
         kEnglishUk,
         "Change Administrator's Password",
         182,
         100,
         true,
         {{1012, "Edit", ES_PASSWORD},
          {1013, "Edit", ES_PASSWORD},
          {1118, "Button"},
          kExit,
          kHelp}},
        {30721, kEnglishUs, "New", 0, 0, false, {{100, "ListBox"}, {1, "Button"}, {2, "Button"}}},
        {30734, kEnglishUs, nullptr, 0, 0, false, {}},
    };
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// Statics without an id that the owner Parts fix.
bool HasStaticText(const restest::DialogTemplate &t, const std::string &text) {
    return std::any_of(t.items.begin(), t.items.end(), [&](const restest::DialogItem &i) {
        return i.id == kStaticId && !i.title.isOrdinal && i.title.text == text;
    });
}

TEST_F(Nimbrel, DialogTemplatesCarryCaptionSizeFontAndTheirOwnersControls) {
    for (const DialogSpec &d : Dialogs()) {
        SCOPED_TRACE("dialog " + std::to_string(d.id));
        const auto bytes = ResourceBytes(module_, MAKEINTRESOURCEA(5), d.id, d.lang);
        ASSERT_FALSE(bytes.empty());
        std::string error;
        const auto t = restest::ParseDialogTemplate(bytes, &error);
        ASSERT_TRUE(t) << error;
        EXPECT_TRUE(t->extended);
        if (d.caption) {
            EXPECT_EQ(t->title, d.caption);
            EXPECT_EQ(t->style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
            EXPECT_EQ(t->style & WS_CHILD, 0u);
        } else {
            EXPECT_EQ(t->title, "");
            EXPECT_EQ(t->style & WS_CAPTION, 0u);
            EXPECT_EQ(t->style & WS_CHILD, static_cast<DWORD>(WS_CHILD));
        }
        if (d.cx) {
            EXPECT_EQ(t->cx, d.cx);
            EXPECT_EQ(t->cy, d.cy);
        }
        EXPECT_TRUE(t->hasFont);
        EXPECT_EQ(t->pointSize, 8);
        EXPECT_EQ(t->typeface, "MS Sans Serif");
        EXPECT_EQ(t->find(153) != nullptr, d.help) << "Help 153";

        std::set<DWORD> listed;
        for (const ControlSpec &c : d.controls) {
            listed.insert(c.id);
            const restest::DialogItem *item = t->find(c.id);
            if (!item) {
                ADD_FAILURE() << "control " << c.id << " missing";
                continue;
            }
            EXPECT_EQ(Lower(item->className()), Lower(c.className)) << "control " << c.id;
            EXPECT_EQ(item->style & c.styleSet, c.styleSet) << "control " << c.id;
            EXPECT_EQ(item->style & c.styleClear, 0u) << "control " << c.id;
            if (c.text) {
                EXPECT_FALSE(item->title.isOrdinal) << "control " << c.id;
                EXPECT_EQ(item->title.text, c.text) << "control " << c.id;
            }
        }
        for (const restest::DialogItem &item : t->items)
            EXPECT_TRUE(item.id == kStaticId || listed.count(item.id))
                << "control " << item.id << " is not one its owner names";
    }
}

TEST_F(Nimbrel, AboutBoxAndLoginDialogsCarryTheirFixedTexts) {
    std::string error;
    const auto about = restest::ParseDialogTemplate(
        ResourceBytes(module_, MAKEINTRESOURCEA(5), 100, kEnglishUk), &error);
    ASSERT_TRUE(about) << error;
    const bool hasIcon = std::any_of(about->items.begin(), about->items.end(), [](const auto &i) {
        return i.className() == "Static" && (i.style & SS_TYPEMASK) == SS_ICON &&
               i.title.isOrdinal && i.title.ordinal == 109;
    });
    EXPECT_TRUE(hasIcon) << "icon 109";
    const bool hasCopyright =
        std::any_of(about->items.begin(), about->items.end(), [](const auto &i) {
            return i.id == kStaticId && i.title.text.find("Copyright") != std::string::npos;
        });
    EXPECT_TRUE(hasCopyright);

    const auto del = restest::ParseDialogTemplate(
        ResourceBytes(module_, MAKEINTRESOURCEA(5), 140, kEnglishUk), &error);
    ASSERT_TRUE(del) << error;
    EXPECT_TRUE(HasStaticText(*del, "Enter the exact path of the file to be deleted."));
    const auto pwd = restest::ParseDialogTemplate(
        ResourceBytes(module_, MAKEINTRESOURCEA(5), 149, kEnglishUk), &error);
    ASSERT_TRUE(pwd) << error;
    EXPECT_TRUE(HasStaticText(*pwd, "Password Required"));
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

TEST_F(Nimbrel, EveryDialogCreatesWithItsControls) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES |
                                             ICC_TREEVIEW_CLASSES | ICC_INTERNET_CLASSES |
                                             ICC_UPDOWN_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&icc));
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(parent, nullptr) << "no display? error " << GetLastError();
    for (const DialogSpec &d : Dialogs()) {
        SCOPED_TRACE("dialog " + std::to_string(d.id));
        const auto bytes = ResourceBytes(module_, MAKEINTRESOURCEA(5), d.id, d.lang);
        ASSERT_FALSE(bytes.empty());
        HWND dialog =
            CreateDialogIndirectParamA(module_, reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()),
                                       d.caption ? nullptr : parent, QuietDialogProc, 0);
        ASSERT_NE(dialog, nullptr) << "error " << GetLastError();
        for (const ControlSpec &c : d.controls) {
            HWND control = GetDlgItem(dialog, static_cast<int>(c.id));
            if (!control) {
                ADD_FAILURE() << "control " << c.id << " not created";
                continue;
            }
            char name[64] = {};
            GetClassNameA(control, name, sizeof name);
            EXPECT_EQ(Lower(name), Lower(c.className)) << "control " << c.id;
        }
        if (d.caption) {
            char caption[128] = {};
            GetWindowTextA(dialog, caption, sizeof caption);
            EXPECT_STREQ(caption, d.caption);
        }
        EXPECT_TRUE(DestroyWindow(dialog));
    }
    DestroyWindow(parent);
}

// ---- menu --------------------------------------------------------------------------------

struct MenuSpec {
    const char *text; // nullptr: separator
    WORD id;          // 0: popup
    std::vector<MenuSpec> children = {};
};

const MenuSpec kSep{nullptr, 0, {}};

std::vector<MenuSpec> MainMenu() {
    return {
        {"Pro&jects",
         0,
         {{"&New Project\tCtrl+N", 101},
          {"&Open Project\tCtrl+O", 57601},
          {"&Close Project", 1059},
          {"&Save Project\tCtrl+S", 57603},
          {"Save &As...", 57604},
          kSep,
          {"Add File to Project", 102},
          {"Remove File from Project", 30771},
          {"Edit Download Details", 150},
          {"Filter Macro File", 107},
          kSep,
          {"Create Download File on disk", 104},
          {"Send Download File to Printer", 105},
          {"Send Project Files to Printer", 106},
          kSep,
          {"Recent File", 57616},
          kSep,
          {"E&xit", 57665}}},
        {"&Printers",
         0,
         {{"Disco&ver Printers", 160},
          {"&Add/Remove Printers", 116},
          kSep,
          {"Sho&w Resource(s)", 112},
          {"&Refresh Folder View", 114},
          {"D&elete File(s)", 159},
          {"Close Reso&urce", 113},
          kSep,
          {"&HDD Print Jobs", 123},
          {"Admi&nistrator Functions", 118},
          kSep,
          {"&Printer Properties", 119},
          {"Print &Demo Page", 120},
          {"Print P&CL Fonts", 121},
          {"Print P&ostScript Fonts", 144},
          {"Print &Sample of Downloaded PS Font", 1091},
          {"Print File &Listing", 152},
          {"Test &Macro", 122},
          {"Test &Form", 148}}},
        {"&View",
         0,
         {{"Lar&ge Icons", 59409},
          {"S&mall Icons", 59408},
          {"&List", 59410},
          {"&Details", 59411},
          kSep,
          {"Arrange &Icons", 0, {{"By &Name", 59413}, kSep, {"&Auto Arrange", 59397}}},
          {"Lin&e up Icons", 59412}}},
        {"&Window", 0, {{"&Cascade", 57650}, {"&Tile", 57651}, {"&Arrange Icons", 57649}}},
        {"&Help", 0, {{"Help Topics", 147}, {"&About Kelvane...", 57664}}},
    };
}

void ExpectTemplateMenu(const std::vector<restest::MenuItem> &got,
                        const std::vector<MenuSpec> &want, const std::string &where) {
    ASSERT_EQ(got.size(), want.size()) << where;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const std::string at = where + "/" + std::to_string(i);
        if (!want[i].text) {
            EXPECT_TRUE(got[i].isSeparator()) << at;
            continue;
        }
        EXPECT_EQ(got[i].text, want[i].text) << at;
        EXPECT_EQ(got[i].isPopup(), want[i].id == 0) << at;
        EXPECT_EQ(got[i].id, want[i].id) << at;
        EXPECT_EQ(got[i].flags & ~(MF_POPUP | MF_END), 0) << at << ": greyed or checked";
        ExpectTemplateMenu(got[i].children, want[i].children, at);
    }
}

void ExpectLiveMenu(HMENU menu, const std::vector<MenuSpec> &want, const std::string &where) {
    ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(want.size())) << where;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const std::string at = where + "/" + std::to_string(i);
        char text[128] = {};
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING | MIIM_STATE;
        info.dwTypeData = text;
        info.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info)) << at;
        if (!want[i].text) {
            EXPECT_TRUE(info.fType & MFT_SEPARATOR) << at;
            continue;
        }
        EXPECT_STREQ(text, want[i].text) << at;
        EXPECT_EQ(info.fState & (MFS_GRAYED | MFS_CHECKED), 0u) << at;
        if (want[i].id == 0) {
            ASSERT_NE(info.hSubMenu, nullptr) << at;
            ExpectLiveMenu(info.hSubMenu, want[i].children, at);
        } else {
            EXPECT_EQ(info.hSubMenu, nullptr) << at;
            EXPECT_EQ(info.wID, want[i].id) << at;
        }
    }
}

TEST_F(Nimbrel, MainMenuIsBuiltExactlyAsListed) {
    std::string error;
    const auto items = restest::ParseMenuTemplate(
        ResourceBytes(module_, MAKEINTRESOURCEA(4), 109, kEnglishUk), &error);
    ASSERT_TRUE(items) << error;
    ExpectTemplateMenu(*items, MainMenu(), "template");

    HMENU menu = LoadMenuA(module_, MAKEINTRESOURCEA(109));
    ASSERT_NE(menu, nullptr);
    ExpectLiveMenu(menu, MainMenu(), "menu");
    DestroyMenu(menu);
}

// ---- accelerators, toolbar, artwork ------------------------------------------------------

TEST_F(Nimbrel, AcceleratorsAreCtrlNOAndS) {
    HACCEL table = LoadAcceleratorsA(module_, MAKEINTRESOURCEA(109));
    ASSERT_NE(table, nullptr);
    ACCEL keys[8] = {};
    ASSERT_EQ(CopyAcceleratorTableA(table, keys, 8), 3);
    const ACCEL want[] = {{FVIRTKEY | FCONTROL, 'N', 57600},
                          {FVIRTKEY | FCONTROL, 'O', 57601},
                          {FVIRTKEY | FCONTROL, 'S', 57603}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(keys[i].fVirt, 0x09) << i;
        EXPECT_EQ(keys[i].fVirt, want[i].fVirt) << i;
        EXPECT_EQ(keys[i].key, want[i].key) << i;
        EXPECT_EQ(keys[i].cmd, want[i].cmd) << i;
    }
    DestroyAcceleratorTable(table);
}

TEST_F(Nimbrel, ToolbarIsVersionOneWithOneNewProjectButton) {
    const auto bytes = ResourceBytes(module_, MAKEINTRESOURCEA(kRtToolbar), 109, kEnglishUk);
    const std::vector<std::uint8_t> want{0x01, 0x00, 0x10, 0x00, 0x0f,
                                         0x00, 0x01, 0x00, 0x00, 0xe1};
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), want);
}

TEST_F(Nimbrel, ArtworkLoadsAtItsSizes) {
    struct Image {
        UINT kind;
        WORD id;
        int cx, cy; // 0: any size
    };
    std::vector<Image> images{
        {IMAGE_BITMAP, 109, 16, 15}, {IMAGE_BITMAP, 30994, 0, 0}, {IMAGE_BITMAP, 30996, 0, 0}};
    for (WORD id : {109, 110, 111}) {
        images.push_back({IMAGE_ICON, id, 16, 16});
        images.push_back({IMAGE_ICON, id, 32, 32});
    }
    for (WORD id : {30977, 30979, 30980, 30981, 30982})
        images.push_back({IMAGE_CURSOR, id, 32, 32});
    for (WORD id = 30998; id <= 31011; ++id)
        images.push_back({IMAGE_CURSOR, id, 32, 32});

    for (const Image &im : images) {
        SCOPED_TRACE("image " + std::to_string(im.id) + " kind " + std::to_string(im.kind));
        HANDLE h = LoadImageA(module_, MAKEINTRESOURCEA(im.id), im.kind,
                              im.kind == IMAGE_BITMAP ? 0 : im.cx,
                              im.kind == IMAGE_BITMAP ? 0 : im.cy, LR_DEFAULTCOLOR);
        ASSERT_NE(h, nullptr) << "error " << GetLastError();
        if (im.kind == IMAGE_BITMAP) {
            BITMAP bm{};
            ASSERT_TRUE(GetObjectA(h, sizeof bm, &bm));
            if (im.cx) {
                EXPECT_EQ(bm.bmWidth, im.cx);
                EXPECT_EQ(bm.bmHeight, im.cy);
            }
            DeleteObject(h);
            continue;
        }
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(static_cast<HICON>(h), &info));
        BITMAP bm{};
        ASSERT_TRUE(GetObjectA(info.hbmMask, sizeof bm, &bm));
        EXPECT_EQ(bm.bmWidth, im.cx);
        // A mask without a colour bitmap holds the AND and XOR halves one above the other.
        EXPECT_EQ(bm.bmHeight, info.hbmColor ? im.cy : 2 * im.cy);
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        if (im.kind == IMAGE_ICON)
            DestroyIcon(static_cast<HICON>(h));
        else
            DestroyCursor(static_cast<HCURSOR>(h));
    }
}

// Wine finds the 1033 cursors beside the 2057 resources by language.
TEST_F(Nimbrel, CursorsAreFoundInTheirOwnLanguage) {
    for (WORD id : {30977, 30980, 30981, 31011}) {
        EXPECT_NE(FindResourceExA(module_, MAKEINTRESOURCEA(12), MAKEINTRESOURCEA(id), kEnglishUs),
                  nullptr)
            << id;
        EXPECT_EQ(FindResourceExA(module_, MAKEINTRESOURCEA(12), MAKEINTRESOURCEA(id), kEnglishUk),
                  nullptr)
            << id;
    }
}

// ---- strings -----------------------------------------------------------------------------

struct Text {
    unsigned id;
    const char *text;
};

// Every text that a Part quotes for an id, byte for byte.
const Text kQuoted[] = {
    {101, "Create a new Project\nNew Project"},
    {108, "Name,ID,Type,Copies,Stored"},
    {109, "Kelvane"},
    {110, "\nProject\nProject\nProject (*.OPJ)\n.OPJ\nProject.Document\nProject Document"},
    {111, "\nResource\nResource\n\n\nResource.Document\nResource Document"},
    {126, "\nPrinters\nPrinters\n\n\nPrinters.Document\nPrinters Document"},
    {127, "Current value:"},
    {128, "Variables"},
    {129, "Configuration"},
    {131, "Status"},
    {1078, "Add Form Feed"},
    {1080, "Test PostScript Form"},
    {10000, "No Project Template Found so no new Project Windows possible. "},
    {10002,
     "Font & Macro Files (*.sfp,*.ttf,*.bin)|*.sfp;*.ttf;*.bin|PostScript Files "
     "(*.pfb,*.fnt,*.hst)|*.pfb;*.fnt;*.hst|Color Profiles (*.op1)|*.op1|PRN "
     "Files(*.prn)|*.prn|Color Matching Files (*.icc,*.icm)|*.icm;*.icc|All Files (*.*)|*.*||"},
    {10003, "Filter File Created: "},
    {10004, "Information"},
    {10005, "No Resource Template Found so no new Resource Windows possible."},
    {10006, "Unsupported Port Error"},
    {10007, "Invalid Parameter Error"},
    {10008, "Not Enough Memory Error"},
    {10009, "Dll Not Found Error"},
    {10010, "Invalid Dll Error"},
    {10011, "Initialise Function Error"},
    {10013, "Invalid Port Handle Error"},
    {10014, "Job Processing Error"},
    {10015, "Job Already Open Error"},
    {10016, "Job Not Open Error"},
    {10017, "Status Manager Not Found Error"},
    {10018, "Status Manager Not Started Error"},
    {10019, "Status Manager Startup Timeout Error"},
    {10020, "Status Manager Initialisation Error "},
    {10021, "Unrecognised Error"},
    {10022, "Access Denied"},
    {10023, "Error writing to printer port."},
    {10024, "Error reading from printer port."},
    {10025, " Component"},
    {10026, " ID"},
    {10027, " Target Volume"},
    {10028, " Target Path"},
    {10029, "Full Path:"},
    {10030, "FILE TYPE:"},
    {10031, "File Size:"},
    {10032, "File Creation Date:"},
    {10033, "Bitmap Font Name:"},
    {10034, "Format:"},
    {10035, "XResolution:"},
    {10036, "YResolution:"},
    {10037, "Font Type:"},
    {10038, "Symbol Set:"},
    {10039, "Proportional"},
    {10040, "Fixed"},
    {10041, "Proportionality:"},
    {10042, "Pitch (width):"},
    {10043, "Height:"},
    {10044, "Style:"},
    {10045, "Stroke Weight:"},
    {10046, "TypeFace:"},
    {10047, "Escape Sequence:"},
    {10048, "Font Family Name:"},
    {10049, "TrueType Font Name:"},
    {10050, "Font Style:"},
    {10051, "Copyright:"},
    {10052, "PostScript Name:"},
    {10053, "Property"},
    {10054, "Value"},
    {10055, "PJL Command files (*.pjl)|*.pjl|All Files (*.*)|*.*||"},
    {10056, "Print spool files (*.prn)|*.prn|PCL files (*.pcl)|*.pcl|All Files (*.*)|*.*||"},
    {10057, "Printer Name"},
    {10058, "IP Address"},
    {10059, "Name"},
    {10060, "Size"},
    {10061, "Free Space"},
    {10062, "Location"},
    {10063, "Label"},
    {10064, "Status"},
    {10065, "The password file cannot be found.  You must reinstall the Kelvane"},
    {10066, "Macro File"},
    {10067, "True Type Font"},
    {10068, "Bitmapped Font"},
    {10069, "New Password Accepted."},
    {10070, "You have requested to INITIALISE the selected partition %s.  All data will lost from "
            "this partition.  Are you sure you wish to proceed? "},
    {10072,
     "The printer is not responding.  It may be offline or processing.  Do you wish to retry?"},
    {10073, "The Kelvane cannot get access to this printer."},
    {10074, "This volume size is not consistent with the Flash memory size and its current "
            "partition sizes."},
    {10078, "Duplicate file  %s"},
    {10080, "Operation Failed"},
    {10081, "Start"},
    {10082, "Stop"},
    {10083, "Discovering Printers on"},
    {10084, "Kelvane Error Code %d(0x%x): %s"},
    {10085, "RESOURCE WINDOW MISCOUNT"},
    {10090, "Command Issued."},
    {10092, "bound"},
    {10093, "unbound"},
    {10094, "Symbol Set"},
    {10095, "Test Macro"},
    {10096, "Test macros already stored in the Printer by entering the macro ID values. Example "
            "01, 32124, 9"},
    {10097, "Macro IDs"},
    {10098, "Job Connection Error"},
    {10099, "sfp"},
    {10100, "SECURE"},
    {10101, "PROOF"},
    {10102, "File %s exists. Overwrite YES/NO ?"},
    {10103, "%s on %s"},
    {10104, "PostScript Form"},
    {10105, "PostScript Font"},
    {10109, "Confirm Delete File: "},
    {10110, "The password entered is not valid."},
    {10111, "Volume "},
    {10112, "Invalid Demo Page name changed to %s"},
    {10113, "PostScript Font Print Sample"},
    {10114, "( 0000-9999 )"},
    {10115, "Print Job(s)"},
    {10117, "Copies:"},
    {10118,
     "You have requested to INITIALISE the entire disk. (Partition Percentages P1: %d%%, P2: %d%%, "
     "P3: %d%%.)  All data will lost from ALL partitions.  Are you sure you wish to proceed? "},
    {10119, "%"},
    {10120, "B"},
    {10121,
     "\nThe Disk may not be initialized.\nThis must be done via the front panel of the printer."},
    {10122, "Color Simulation Profile"},
    {10123, "Descripton:"},
    {10126, "Screen:"},
    {10127, "Resolution:"},
    {10128, "Media:"},
    {10129, "Device Best screen"},
    {10130, "Cluster screen"},
    {10131, "1200 x 1200 dpi"},
    {10132, "600 x 1200 dpi"},
    {10133, "600 x 600 dpi"},
    {10134, "Plain paper"},
    {10135, "Transparency"},
    {10136, "Profile Name:"},
    {10137, "User Profile %d"},
    {10138, "Missing File Name - Reconvert"},
    {10141, "The printer has not responded to a command as expected.\n Please try again after "
            "checking that the printer is ONLINE"},
    {10142, "Cannot open file "},
    {10143, ". It has been temporarily removed. You must add it to the project again to correct "
            "the problem."},
    {10144, "Duplicate Scopes are not permitted."},
    {10145, "This operation requires the language %s which is not supported by this printer."},
    {10146, "Unknown"},
    {10147, "The passwords entered do not match"},
    {10148, "The printer name and address already exist"},
    {57344, "Kelvane"},
    {57345, "Ready"},
    {57344, "Kelvane"},
    {57345, "Ready"},
};

TEST_F(Nimbrel, StringsAreStoredExactly) {
    for (const Text &t : kQuoted) {
        const auto raw = RawString(module_, t.id, kEnglishUk);
        ASSERT_TRUE(raw) << "missing string " << t.id;
        EXPECT_EQ(*raw, t.text) << "string " << t.id;
        // The application's way: LoadString in the thread's language.
        char buffer[1024] = {};
        const int n = LoadStringA(module_, t.id, buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), t.text) << "LoadString " << t.id;
    }
}

TEST_F(Nimbrel, MessageIdsArePresentExceptTheThreeGaps) {
    for (unsigned id = 10000; id <= 10148; ++id) {
        const bool gap = id >= 10106 && id <= 10108;
        const auto raw = RawString(module_, id, kEnglishUk);
        EXPECT_EQ(raw.has_value(), !gap) << "string " << id;
        if (raw) {
            EXPECT_FALSE(raw->empty()) << "string " << id;
        }
        char buffer[16] = {};
        EXPECT_EQ(LoadStringA(module_, id, buffer, sizeof buffer) > 0, !gap) << "LoadString " << id;
    }
}

TEST_F(Nimbrel, CommandPromptsHoldStatusTextAndToolTip) {
    for (unsigned id : {101,   102,   103,   104,   105,   106,   112,   115,   116,
                        117,   57600, 57601, 57603, 57604, 57649, 57650, 57651, 57664,
                        57665, 59397, 59408, 59409, 59410, 59411, 59412, 59413}) {
        const auto raw = RawString(module_, id, kEnglishUk);
        ASSERT_TRUE(raw) << id;
        const auto nl = raw->find('\n');
        ASSERT_NE(nl, std::string::npos) << id;
        EXPECT_GT(nl, 0u) << id;
        EXPECT_LT(nl + 1, raw->size()) << id;
    }
}

// ---- version block and module shape ------------------------------------------------------

TEST_F(Nimbrel, VersionBlockNamesTheRelease) {
    const std::string path = suite::BinPath("nimbrel.dll");
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data()));

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void **>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x0000000Au);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020002u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x0000000Au);

    WORD *translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void **>(&translation), &len));
    ASSERT_EQ(len, 4u);
    EXPECT_EQ(translation[0], 0x0809);
    EXPECT_EQ(translation[1], 1200);

    const std::pair<const char *, const char *> values[] = {
        {"FileVersion", "2, 2, 0, 10"}, {"ProductVersion", "2, 2, 0, 10"},
        {"Comments", "Release"},        {"FileDescription", "Kelvane Application"},
        {"InternalName", "Wyr"},        {"OriginalFilename", "Kelvane"},
        {"ProductName", "Kelvane"},
    };
    for (const auto &[name, want] : values) {
        char *value = nullptr;
        const std::string key = std::string("\\StringFileInfo\\080904b0\\") + name;
        ASSERT_TRUE(
            VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void **>(&value), &len))
            << name;
        EXPECT_STREQ(value, want) << name;
    }
    for (const char *name : {"CompanyName", "LegalCopyright"}) {
        char *value = nullptr;
        const std::string key = std::string("\\StringFileInfo\\080904b0\\") + name;
        ASSERT_TRUE(
            VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void **>(&value), &len))
            << name;
        EXPECT_GT(std::strlen(value), 0u) << name;
    }
}

TEST_F(Nimbrel, IsAnX64ModuleWithAnEntryPointAndNoExports) {
    const auto *base = reinterpret_cast<const std::uint8_t *>(module_);
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS64 *>(base + dos->e_lfanew);
    ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    EXPECT_NE(nt->OptionalHeader.AddressOfEntryPoint, 0u);
    const IMAGE_DATA_DIRECTORY &exports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (exports.Size != 0) {
        const auto *dir =
            reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + exports.VirtualAddress);
        EXPECT_EQ(dir->NumberOfFunctions, 0u);
        EXPECT_EQ(dir->NumberOfNames, 0u);
    }
    EXPECT_EQ(GetProcAddress(module_, "DllMain"), nullptr);
}

} // namespace
