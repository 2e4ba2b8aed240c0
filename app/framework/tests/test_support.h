// Shared helpers of the framework tests.
#pragma once

#include "framework.h"
#include "framework_seam.h"
#include "suite_dialogs.h"

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace fwtest {

// The test program's application object (no WinMain runs: gtest's main does). Its
// OpenDocumentFile records the paths it is given and succeeds for names ending ".opj".
class TestApp : public CWinApp {
  public:
    TestApp() : CWinApp("Framework Test") {}
    std::vector<std::string> opened;
    CDocument *OpenDocumentFile(LPCSTR path) override;
    std::vector<std::string> commands; // commands the application's map ran
    void OnAppCommand();
    DECLARE_MESSAGE_MAP()
};
TestApp &App();

using suite::DialogDriver;
using suite::WaitForDialog;

// A top-level window of the framework's class, destroyed with the object.
class TopWindow : public CWnd {
  public:
    TopWindow();
};

// Processes the thread's pending messages.
void Pump();

// Runs the thread's queue as the application's loop does (PreTranslateMessage first).
void RunQueue();

// Text of a control of a window.
std::string ItemText(HWND dialog, int id);

// A document's Serialize over raw bytes: stores `content`, or loads the whole archive into it.
void SerializeBytes(CArchive &ar, std::string &content);

} // namespace fwtest
