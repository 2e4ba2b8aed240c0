// The byte-level rules of the application's commands and small dialogs: Test Macro and
// Test Form jobs, the filter flags file, the macro filter's output name, the chooser's rows,
// identifier and printer-name checks. No Windows header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// ---- Test Macro ----
// The next identifier of ids: the digits up to the first ',' (others skipped) make the
// number; ids becomes the text after that ',' (or empty). -1 without a digit, and -1 for a
// number past 32767.
int TakeNextMacroId(std::string &ids);
inline constexpr int kMaxMacroId = 32767;
// The whole Test Macro job for the identifiers of ids (consumed up to the first -1), a form
// feed after each with formFeed, else one at the end.
std::string BuildTestMacroJob(std::string &ids, bool formFeed);

// ---- Test Form ----
// A name that PostScript reads back as one name token after '/': printable, no blank and
// no delimiter ( ) < > [ ] { } / %. The empty name is not regular.
bool IsRegularPostScriptName(std::string_view name);
// The Test Form job for the form `name` (decoded): "/name", or "(name) cvn" escaped.
std::string BuildTestFormJob(std::string_view name);

// ---- Filter Macro File ----
inline constexpr std::size_t kFilterFlagCount = 28;
inline constexpr std::size_t kFilterFileSize = kFilterFlagCount * 4;
using FilterFlags = std::array<std::int32_t, kFilterFlagCount>;
// The flags of PFilters.dat: 28 little-endian 32-bit values, each read as 0 or 1 (nonzero);
// any other size reads as all 1.
FilterFlags ParseFilterFlags(const char *bytes, std::size_t count);
// The file's 112 bytes, each value 0 or 1.
std::string WriteFilterFlags(const FilterFlags &flags);
// The macro output beside the print file: its last component's text from the first '.' is
// replaced by ".bin" (".bin" appended to a name without a dot).
std::string MacroOutputName(std::string_view input);
// Paths equal without regard to ASCII case.
bool SamePathNoCase(std::string_view a, std::string_view b);

// ---- Commands' conditions ----
// PSMENU "DISABLE" (whole, without case) turns the PostScript commands off.
bool IsPsMenuDisabled(std::string_view psmenu);

// ---- Dialog rules ----
// The identifier edit's text after a change: "32767" for a number of more than 5
// significant digits or above 32767, else the text itself.
std::string ClampIdentifierText(std::string_view text);
// True when a name ends in ".DMO" (any case) and has at least 4 characters.
bool IsDemoPageName(std::string_view name);
// A printer name the settings file can hold and read back as itself: not empty, no CR or
// LF, no ",Port=".
bool IsStorablePrinterName(std::string_view name);

// The chooser's rows for its mode (1 form, 2 font, 3 demo page) and entries. Mode 1 drops
// each entry's delimiters (its first and last character; shorter entries are skipped).
// Mode 3 offers "DEMO1" and then each entry's text before ".DMO" (found without case),
// unless it is "DEMO1"; endsAtOnce is set when that leaves only "DEMO1".
std::vector<std::string> ChooserRows(int mode, const std::vector<std::string> &entries,
                                     bool &endsAtOnce);
