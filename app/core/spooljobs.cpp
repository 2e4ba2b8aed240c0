#include "spooljobs.h"

#include <cstddef>

SpoolJob ParseSpoolJobLine(std::string_view line) {
    std::size_t pos = 0;
    while (pos < line.size() && line[pos] == '\t')
        ++pos;
    SpoolJob job;
    std::string *fields[] = {&job.id, &job.name, &job.type, &job.copies, &job.stored};
    for (std::string *field : fields) {
        if (pos > line.size())
            break;
        const std::size_t tab = line.find('\t', pos);
        const std::size_t end = tab == std::string_view::npos ? line.size() : tab;
        field->assign(line.substr(pos, end - pos));
        pos = end + 1;
    }
    return job;
}

bool IsSpoolJobShown(std::string_view type, bool showProof, bool showSecure) {
    return (showProof && type == "PROOF") || (showSecure && type == "SECURE");
}

PinPass FilterPinText(std::string_view text, char limit) {
    PinPass pass;
    if (text.size() >= 5) {
        pass.text.assign(text.substr(0, 4));
        pass.beeps = 1;
        return pass;
    }
    for (char c : text) {
        if (c < '0' || c > limit)
            ++pass.beeps;
        else
            pass.text.push_back(c);
    }
    return pass;
}

int ParseCopies(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t begin = 0, end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    if (begin == end)
        return 0;
    long long value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
        if (value > 2147483647LL)
            return 0;
    }
    return static_cast<int>(value);
}
