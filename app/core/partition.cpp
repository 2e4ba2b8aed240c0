// Volume initialisation and hard-disk partitioning rules.
#include "partition.h"

#include <algorithm>
#include <limits>

namespace {

__extension__ typedef unsigned __int128 Wide;

bool Holds(std::string_view text, std::string_view word) {
    return text.find(word) != std::string_view::npos;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The leading decimal digits of text; empty without any or when the value overflows.
std::optional<std::uint64_t> LeadingNumber(std::string_view text) {
    if (text.empty() || !IsDigit(text[0]))
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < text.size() && IsDigit(text[i]); ++i) {
        const unsigned d = static_cast<unsigned>(text[i] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10)
            return std::nullopt;
        value = value * 10 + d;
    }
    return value;
}

int ClampStep(int step) {
    return std::clamp(step, 1, 33);
}

// A bound on every percentage loop: no loop moves more than 300 points by steps.
int LoopBound(int step) {
    return 300 / step + 1;
}

int Sum(const Percentages &p) {
    return p[0] + p[1] + p[2];
}

std::string HddTypeCommand(int number, std::string_view type) {
    return "@PJL DEFAULT QUVHDD0" + std::to_string(number) + "=" + std::string(type) + "\r\n";
}

} // namespace

FsVolume ParseFsVolumeLine(std::string_view line) {
    FsVolume out;
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (fields.size() < 5) {
        const std::size_t tab = line.find('\t', pos);
        fields.push_back(
            line.substr(pos, tab == std::string_view::npos ? std::string_view::npos : tab - pos));
        if (tab == std::string_view::npos)
            break;
        pos = tab + 1;
    }
    const std::string_view first = fields[0];
    int percents = 0;
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (first[i] == ':' || (first[i] == '%' && ++percents == 2)) {
            out.volume = std::string(first.substr(0, i + 1));
            break;
        }
    }
    if (fields.size() > 1)
        out.size = LeadingNumber(fields[1]).value_or(0);
    if (fields.size() > 3)
        out.location = std::string(fields[3]);
    if (fields.size() > 4)
        out.label = std::string(fields[4]);
    for (std::string *s : {&out.location, &out.label})
        while (!s->empty() && (s->back() == '\r' || s->back() == '\n'))
            s->pop_back();
    return out;
}

int GetVolumeImage(std::string &text) {
    if (Holds(text, "PCL"))
        return 4;
    if (!Holds(text, "flash"))
        return Holds(text, "disk") ? 6 : 5;
    const std::size_t mix = text.find("MIX");
    if (mix != std::string::npos)
        text.replace(mix, 3, "PS ");
    return 6;
}

std::vector<FsRow> BuildFsRows(const std::vector<std::string> &lines) {
    std::vector<FsRow> rows;
    for (const std::string &line : lines) {
        FsRow row;
        row.number = static_cast<int>(rows.size()) + 1;
        row.volume = ParseFsVolumeLine(line);
        row.text = std::to_string(row.number) + " = " + row.volume.volume + " - " +
                   row.volume.location + " - " + row.volume.label;
        row.image = GetVolumeImage(row.text);
        rows.push_back(std::move(row));
    }
    return rows;
}

std::uint64_t DiskTotal(const std::vector<FsRow> &rows) {
    std::uint64_t total = 0;
    for (const FsRow &row : rows)
        if (row.volume.location == "HDD0")
            total = row.volume.size > std::numeric_limits<std::uint64_t>::max() - total
                        ? std::numeric_limits<std::uint64_t>::max()
                        : total + row.volume.size;
    return total;
}

int PartitionStep(bool attributesRead, std::string_view hddAssign) {
    if (!attributesRead || hddAssign.empty() || !IsDigit(hddAssign[0]))
        return 1;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < hddAssign.size() && IsDigit(hddAssign[i]) && value <= 100; ++i)
        value = value * 10 + static_cast<unsigned>(hddAssign[i] - '0');
    return ClampStep(static_cast<int>(std::min<std::uint64_t>(value, 100)));
}

std::optional<Percentages> BalancePartitions(Percentages p, int step) {
    const int s = ClampStep(step);
    const int low = MinPercent(s), high = MaxPercent(s);
    for (int &v : p)
        v = std::clamp(v, low, high);
    const int bound = LoopBound(s);
    for (int i = 0; i < bound && Sum(p) > 100; ++i) {
        auto it = std::find_if(p.begin(), p.end(), [&](int v) { return v - s >= low; });
        if (it == p.end())
            break;
        *it -= s;
    }
    for (int i = 0; i < bound && Sum(p) < 100; ++i) {
        auto it = std::find_if(p.begin(), p.end(), [&](int v) { return v + s <= high; });
        if (it == p.end())
            break;
        *it += s;
    }
    if (Sum(p) != 100) {
        p[2] = 100 - p[0] - p[1];
        if (p[2] < low || p[2] > high)
            return std::nullopt;
    }
    return p;
}

Percentages DefaultPartitions(const std::vector<FsRow> &rows, int step) {
    const std::uint64_t total = DiskTotal(rows);
    if (total == 0)
        return {0, 0, 0};
    const int s = ClampStep(step);
    Percentages p{0, 0, 0};
    std::size_t taken = 0;
    for (const FsRow &row : rows) {
        if (taken == 3)
            break;
        if (row.volume.location != "HDD0")
            continue;
        // size / total rounded, halves up; size <= total, so at most 100.
        const Wide share =
            (static_cast<Wide>(row.volume.size) * 200 + total) / (static_cast<Wide>(total) * 2);
        const int percent = static_cast<int>(share);
        p[taken++] = (percent + s - 1) / s * s;
    }
    const int bound = LoopBound(s);
    for (int i = 0; i < bound && Sum(p) < 100; ++i)
        p[2] += s;
    for (int i = 0; i < bound && Sum(p) > 100 && p[2] >= s; ++i)
        p[2] -= s;
    return BalancePartitions(p, s).value_or(Percentages{0, 0, 0});
}

Percentages SpinPartition(Percentages p, int index, int direction, int step, unsigned lockMask) {
    if (index < 0 || index > 2 || (lockMask & (1u << index)))
        return p;
    const int s = ClampStep(step);
    const int delta = direction > 0 ? s : -s;
    const int own = p[index] + delta;
    if (own < MinPercent(s) || own > MaxPercent(s))
        return p;
    for (int k = 1; k <= 2; ++k) {
        const int j = (index + k) % 3;
        if (lockMask & (1u << j))
            continue;
        const int other = p[j] - delta;
        if (other < MinPercent(s) || other > MaxPercent(s))
            continue;
        p[index] = own;
        p[j] = other;
        return p;
    }
    return p;
}

std::uint64_t FlashAreaValue(const std::vector<FsRow> &rows, std::size_t index,
                             bool attributesRead) {
    if (index >= rows.size())
        return 0;
    std::uint64_t a = 0, b = 0;
    if (Holds(rows[index].text, "MIX")) {
        b = rows[index].volume.size;
        if (index + 1 < rows.size() && Holds(rows[index + 1].text, "flash"))
            a = rows[index + 1].volume.size;
    } else {
        a = rows[index].volume.size;
        b = index > 0 ? rows[index - 1].volume.size : 0;
    }
    if (!attributesRead)
        return a;
    const Wide sum = static_cast<Wide>(a) + b;
    return sum == 0 ? 0 : static_cast<std::uint64_t>(static_cast<Wide>(a) * 100 / sum);
}

std::uint64_t FlashAreaLimit(const std::vector<FsRow> &rows, std::size_t index) {
    if (index >= rows.size())
        return 0;
    if (Holds(rows[index].text, "flash"))
        return index + 1 < rows.size() ? rows[index + 1].volume.size : 0;
    return rows[index].volume.size;
}

std::optional<int> ParseAreaSize(std::string_view text) {
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (!IsDigit(c))
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > static_cast<std::uint64_t>(std::numeric_limits<int>::max()))
        return std::nullopt;
    return static_cast<int>(value);
}

bool FlashAreaFits(int value, bool attributesRead, std::uint64_t limit) {
    if (value < 0)
        return false;
    return attributesRead ? value <= 100 : static_cast<std::uint64_t>(value) < limit;
}

std::string FlashLocation(std::string_view text) {
    for (std::string_view word : {std::string_view("FLASH"), std::string_view("NIC")}) {
        const std::size_t at = text.find(word);
        if (at != std::string_view::npos)
            return at + word.size() < text.size() ? std::string(text.substr(at, word.size() + 1))
                                                  : std::string();
    }
    return {};
}

bool IsFlashRow(std::string_view text) {
    return Holds(text, "FLASH") || Holds(text, "NIC");
}

bool IsFlashChoice(std::string_view text) {
    return Holds(text, "MIX") || Holds(text, "flash") || Holds(text, "FLASH");
}

std::optional<int> NumberAfter(std::string_view text, std::string_view word) {
    const std::size_t at = text.find(word);
    if (at == std::string_view::npos)
        return std::nullopt;
    const std::string_view rest = text.substr(at + word.size());
    std::size_t digits = 0;
    while (digits < rest.size() && IsDigit(rest[digits]))
        ++digits;
    if (digits == 0 || digits > 9)
        return std::nullopt;
    return static_cast<int>(*LeadingNumber(rest.substr(0, digits)));
}

std::optional<std::string> FsInitCommand(std::string_view volume) {
    if (volume.empty() || volume.find_first_of("\"\r\n") != std::string_view::npos)
        return std::nullopt;
    return "@PJL FSINIT VOLUME=\"" + std::string(volume) + "\"\r\n";
}

FormatCommand ChooseFormatCommand(const FsRow &row, int radio) {
    const std::string &text = row.text;
    FormatCommand out;
    auto fsinit = [&] {
        if (auto command = FsInitCommand(row.volume.volume)) {
            out.kind = FormatCommand::kCommand;
            out.command = *command;
        }
        return out;
    };
    auto type = [&](std::string_view t) {
        out.kind = FormatCommand::kCommand;
        out.command = HddTypeCommand(row.number, t);
        return out;
    };
    auto file = [&](FormatCommand::Kind kind, std::string_view word) {
        if (auto n = NumberAfter(text, word)) {
            out.kind = kind;
            out.fileNumber = *n;
        }
        return out;
    };
    if (Holds(text, "HDD")) {
        if (radio != kRadioPcl && radio != kRadioCommon && radio != kRadioPostScript)
            return out;
        if (Holds(text, "PCL"))
            return radio == kRadioPcl ? fsinit() : type(radio == kRadioCommon ? "COMMON" : "PS");
        if (Holds(text, "COMMON"))
            return radio == kRadioCommon ? fsinit() : type(radio == kRadioPcl ? "PCL" : "PS");
        if (radio == kRadioPostScript)
            return file(FormatCommand::kDiskFile, "disk");
        return type(radio == kRadioPcl ? "PCL" : "COMMON");
    }
    if (Holds(text, "MIX"))
        return fsinit();
    return file(FormatCommand::kFlashFile, "flash");
}

std::string FsAssignCommand(std::string_view location, int size) {
    return "@PJL QUVFSASSIGN TYPE=PSFILE LOCATION=" + std::string(location) +
           " SIZE=" + std::to_string(size) + "\r\n";
}

std::string FlashInitialiseCommand(std::string_view location) {
    return "@PJL QUVINITIALIZE " + std::string(location) + "\r\n";
}
