// The framework's test seam, in its test variant only: a program that links the object
// library framework_seam (test programs, velmar_under_test.exe), never a deliverable.
//
// With the seam active (AfxTestSeam::Begin, or FRAMEWORK_TEST_SCRIPT set for a program that
// runs on the framework's WinMain) message boxes and file dialogs open no window: each takes
// the next scripted answer and is logged. Help calls are logged and still made. For a
// program on the framework's WinMain, FRAMEWORK_TEST_SCRIPT names a file of answers, one a
// line, and FRAMEWORK_TEST_LOG a file to which each event is appended as Event::Line().
#pragma once

#include "framework.h"

#include <string>
#include <vector>

namespace AfxTestSeam {

// One logged event.
struct Event {
    std::string kind;         // "box", "open", "save", "help", "beep", "script"
    DWORD thread = 0;         // the calling thread
    HWND owner = nullptr;     // the box's or file dialog's owner window
    std::string caption;      // box caption, file dialog title, help file
    std::string text;         // box text; for a file dialog the initial file name
    UINT flags = 0;           // final box flags, file dialog flags, help command
    std::string filter;       // file dialog filter, NULs shown as '|'
    std::string ext;          // file dialog default extension
    DWORD_PTR data = 0;       // help data
    std::string answer;       // the answer taken, "" when none was scripted
    std::string Line() const; // one text line as the log file holds it
};

// Activates the seam in this process: boxes and file dialogs open no window.
void Begin();
// Deactivates the seam and drops the answers left and the log.
void End();
bool Active();
// Queues one answer. A box takes "IDOK", "IDCANCEL", "IDYES", "IDNO", "IDABORT", "IDRETRY",
// "IDIGNORE" or a decimal number; a file dialog takes "IDCANCEL", "file:<full path>" or
// "files:<folder>|<name>|<name>..." (the multiple-selection answer).
void PushAnswer(const std::string &answer);
// The events so far, oldest first; the log is emptied.
std::vector<Event> TakeLog();

} // namespace AfxTestSeam
