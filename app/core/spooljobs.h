// Held print jobs: the job lines of the printer's tables, which rows are shown, the PIN
// edit's filtering and the copies answer.
#pragma once

#include <string>
#include <string_view>

// One job line: after any leading TABs, the TAB-separated fields ID, name, type, copies
// and stored. A missing field is empty; fields after stored are ignored.
struct SpoolJob {
    std::string id;
    std::string name;
    std::string type;
    std::string copies;
    std::string stored;
};
SpoolJob ParseSpoolJobLine(std::string_view line);

// True when a row of `type` is shown: exactly "PROOF" with showProof, exactly "SECURE"
// with showSecure.
bool IsSpoolJobShown(std::string_view type, bool showProof, bool showSecure);

// One pass over the PIN edit's text: five or more characters are cut to four with one
// beep; otherwise every character below '0' or above `limit` is removed, one beep each.
struct PinPass {
    std::string text;
    int beeps = 0;
};
PinPass FilterPinText(std::string_view text, char limit);

// The copies answer: a plain decimal number from 0 to 2147483647, blanks around it
// allowed; anything else is 0 (no quantity).
int ParseCopies(std::string_view text);
