// Renders a table of messages, each with its sources and a manifest, into the folder named
// by the first argument, for check_mime.py. Also writes random Base64 cases and the
// converter's output for every Shift_JIS pair.
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "mail_error.h"
#include "mail_message.h"
#include "message_text.h"
#include "mime_manifest.h"
#include "translater.h"

using namespace std::string_literals;

namespace {

using mailtest::Hex;
using mailtest::ManifestCharset;
using mailtest::ManifestItem;

std::string g_folder;

std::string PathOf(const std::string &file) {
#ifdef _WIN32
    return g_folder + "\\" + file;
#else
    return g_folder + "/" + file;
#endif
}

bool Write(const std::string &file, const std::string &bytes) {
    std::FILE *f = std::fopen(PathOf(file).c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

struct Item {
    int kind;
    std::string address, name;
};

enum class Source { String, File, Attachment };

struct Part {
    Source source;
    std::string bytes;
    std::string name; // attachment name
};

struct Message {
    const char *name;
    int charset;
    std::vector<Item> items;
    std::vector<Part> parts;
};

std::string Bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char &c : out)
        c = char(random());
    return out;
}

std::string Repeat(const std::string &s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

// Japanese text in Shift_JIS: hiragana, kanji, full-width forms and ASCII.
const std::string kJpName = "\x8e\x52\x93\x63\x20\x91\xbe\x98\x59"; // two words with a blank
const std::string kJpSubject = Repeat("\x82\xa0\x82\xa2\x82\xa4\x8a\xbf\x8e\x9a", 5) + "abc" +
                               Repeat("\x83\x65\x83\x58\x83\x67\x81\x40", 4) + "Report 12";
const std::string kJpBody = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\n"
                            "ASCII line\r\n"
                            ".\n"
                            ".x \x8a\xbf\x8e\x9a\n" +
                            Repeat("\x93\xfa\x96\x7b\x8c\xea", 400) +
                            "\n"
                            "last line without end \x82\xa0";
const std::string kEuName = "Ren\xe9 M\xfcller_? \t=";
const std::string kEuSubject =
    "R\xe9sum\xe9 de l'\xe9t\xe9: caf\xe9 ? cr\xe8me _br\xfbl\xe9\x65_ \t=?=" +
    Repeat(" \xc0 bient\xf4t", 6);
const std::string kEuBody = "Ligne un, caf\xe9\r\n"
                            "trailing blank \n"
                            "trailing tab\t\n"
                            ".\n"
                            "= sign and 100% \xff\xfe\n"s +
                            Repeat("long line \xe9", 40) +
                            "\n"
                            "ctrl-z \x1a then end ";
const std::string kBoundary = "DRANVEL_SMTP_MAIL_SYSTEM_19690212";

std::vector<Message> Messages() {
    const std::vector<Item> usItems = {
        {kItemFrom, "sender@example.test", "Sender Name"},
        {kItemTo, "one@example.test", "First Person"},
        {kItemSubject, "", "Status of printer 7"},
    };
    const std::vector<Item> jpItems = {
        {kItemFrom, "jp@example.test", kJpName},
        {kItemTo, "to@example.test", kJpName + "\x82\xa0"},
        {kItemCC, "cc@example.test", ""},
        {kItemSubject, "", kJpSubject},
    };
    const std::vector<Item> euItems = {
        {kItemFrom, "eu@example.test", kEuName},
        {kItemReplyTo, "reply@example.test", "R\xe9ponse"},
        {kItemTo, "to@example.test", Repeat("Fran\xe7ois ", 8)},
        {kItemSubject, "", kEuSubject},
    };
    std::string longLine(2000, 'a');
    longLine[999] = '.';
    const std::string usBody = "Hello\nSecond line\r\n.\n.x\n" + longLine + "\nend";
    return {
        {"us_string", kCharsetUS, usItems, {{Source::String, usBody, ""}}},
        {"us_file",
         kCharsetUS,
         usItems,
         {{Source::File, usBody + "\r\nmore\x1a after ctrl-z\n", ""}}},
        {"jp_string", kCharsetJP, jpItems, {{Source::String, kJpBody, ""}}},
        {"jp_file", kCharsetJP, jpItems, {{Source::File, kJpBody + "\r\n\x1a\x00 end\r\n"s, ""}}},
        {"eu_string", kCharsetEU, euItems, {{Source::String, kEuBody, ""}}},
        {"eu_file",
         kCharsetEU,
         euItems,
         {{Source::File, kEuBody + "\r\nnul \x00 byte\r\n\r\n"s, ""}}},
        {"us_multi",
         kCharsetUS,
         {{kItemFrom, "f@example.test", ""},
          {kItemReplyTo, "r@example.test", "Reply Desk"},
          {kItemTo, "a@example.test", "A Person"},
          {kItemTo, "b@example.test", ""},
          {kItemTo, "c@example.test", "C Person"},
          {kItemCC, "d@example.test", "D Person"},
          {kItemCC, "e@example.test", ""},
          {kItemSubject, "", "Files attached"}},
         {{Source::String, "See the files.\n", ""},
          {Source::Attachment, "", "empty.exe"},
          {Source::Attachment, Bytes(570, 1), "table.CSV"},
          {Source::File, "From a file\r\n", ""}}},
        {"jp_multi",
         kCharsetJP,
         jpItems,
         {{Source::File, kJpBody, ""},
          {Source::String, "\x82\xa0\n", ""},
          {Source::Attachment, Bytes(286, 2), "exe"}}},
        {"eu_multi",
         kCharsetEU,
         {{kItemFrom, "eu@example.test", kEuName},
          {kItemTo, "to@example.test",
           "Z\xf6"
           "e"},
          {kItemSubject, "", ""}},
         {{Source::String, kEuBody, ""},
          {Source::Attachment, Bytes(1, 3), "a.exe"},
          {Source::Attachment, Bytes(2, 4), "b.exe"},
          {Source::Attachment, Bytes(3, 5), "c.exe"},
          {Source::Attachment, Bytes(57, 6), "d.csv"},
          {Source::Attachment, Bytes(285, 7), "e.csv"}}},
        {"boundary_clash",
         kCharsetUS,
         usItems,
         {{Source::String,
           "Forwarded:\n--" + kBoundary + "\nContent-Type:text/plain\n\ninner\n--" + kBoundary +
               "--\n",
           ""},
          {Source::String, "--" + kBoundary + "_1 also taken\n", ""},
          {Source::Attachment, Bytes(100, 8), "after.exe"},
          {Source::String, "last part\n", ""}}},
    };
}

bool WriteMessage(const Message &def) {
    CMailMessage message(def.charset);
    std::string manifest = ManifestCharset(def.charset);
    for (const Item &item : def.items) {
        message.AddItem(item.address.c_str(), item.name.c_str(), item.kind);
        manifest += ManifestItem(item.kind, item.address, item.name);
    }
    int index = 0;
    for (const Part &part : def.parts) {
        const std::string source = std::string(def.name) + ".src" + std::to_string(index++);
        if (!Write(source, part.bytes))
            return false;
        switch (part.source) {
        case Source::String: // a C string: the table's strings hold no NUL
            message.AddBodyString(part.bytes.c_str(), kBodyReplace | kBodyMakePart);
            manifest += "text\tstring\t" + source + "\n";
            break;
        case Source::File:
            message.AddBody(PathOf(source).c_str());
            manifest += "text\tfile\t" + source + "\n";
            break;
        case Source::Attachment:
            message.AddContent(PathOf(source).c_str(), part.name.c_str());
            manifest += "attachment\t" + Hex(part.name) + "\t" + source + "\n";
            break;
        }
    }
    const std::string text = RenderMessageText(message, "Date: Thu, 10 Dec 26 12:00:00 +0900");
    return Write(std::string(def.name) + ".eml", text) &&
           Write(std::string(def.name) + ".manifest", manifest);
}

// Base64 of random inputs, with and without line breaks.
bool WriteBase64Cases() {
    std::string list;
    for (unsigned n = 0; n < 60; ++n) {
        const std::size_t size = n < 40 ? n : std::size_t(n * 97 % 5000);
        const std::string data = Bytes(size, 100 + n);
        for (bool breaks : {true, false}) {
            CBase64 encoder;
            encoder.SetLineBreaks(breaks);
            std::string out;
            for (std::size_t i = 0; i < data.size(); ++i) {
                encoder.Translate(std::uint8_t(data[i]), i + 1 == data.size());
                out.append(encoder.Output(), std::size_t(encoder.OutputLength()));
            }
            const std::string name = "b64_" + std::to_string(n) + (breaks ? ".lines" : ".flat");
            if (!Write(name, out))
                return false;
        }
        if (!Write("b64_" + std::to_string(n) + ".bin", data))
            return false;
        list += std::to_string(n) + "\n";
    }
    return Write("b64.list", list);
}

// Every Shift_JIS pair through a fresh converter, flagged last: "LLTT" and the output in hex.
bool WriteJisTable() {
    std::string table;
    for (int lead = 0; lead < 256; ++lead) {
        if (!CSJIStoJIS::IsLeadByte(std::uint8_t(lead)))
            continue;
        for (int trail = 0; trail < 256; ++trail) {
            if (!CSJIStoJIS::IsTrailByte(std::uint8_t(trail)))
                continue;
            CSJIStoJIS jis;
            jis.Translate(std::uint8_t(lead), false);
            jis.Translate(std::uint8_t(trail), true);
            table += Hex(std::string{char(lead), char(trail)}) + " " +
                     Hex(std::string(jis.Output(), std::size_t(jis.OutputLength()))) + "\n";
        }
    }
    return Write("jis_pairs.txt", table);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quenta_mime_writer <folder>\n");
        return 2;
    }
    g_folder = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(g_folder, ec);
    std::string list;
    for (const Message &def : Messages()) {
        MailErrorCode code = kMailOk;
        bool written = false;
        code = CatchMailError([&] { written = WriteMessage(def); });
        if (code != kMailOk || !written) {
            std::fprintf(stderr, "quenta_mime_writer: %s failed (code %d)\n", def.name, int(code));
            return 1;
        }
        list += std::string(def.name) + "\n";
    }
    if (!Write("messages.list", list) || !WriteBase64Cases() || !WriteJisTable()) {
        std::fprintf(stderr, "quenta_mime_writer: cannot write into %s\n", g_folder.c_str());
        return 1;
    }
    std::printf("quenta_mime_writer: wrote the messages into %s\n", g_folder.c_str());
    return 0;
}
