#include "test_support.h"

namespace {

fwtest::TestApp g_app;

} // namespace

namespace fwtest {

TestApp &App() {
    return g_app;
}

void TestApp::OnAppCommand() {
    commands.push_back("app");
}

BEGIN_MESSAGE_MAP(TestApp, CWinApp)
ON_COMMAND(5002, OnAppCommand)
END_MESSAGE_MAP()

CDocument *TestApp::OpenDocumentFile(LPCSTR path) {
    std::string p = path ? path : "";
    opened.push_back(p);
    bool project = p.size() > 4 && _stricmp(p.c_str() + p.size() - 4, ".opj") == 0;
    // No document class here: any non-NULL pointer reads as success.
    return project ? reinterpret_cast<CDocument *>(this) : nullptr;
}

TopWindow::TopWindow() {
    CreateEx(0, nullptr, "framework test", WS_OVERLAPPEDWINDOW, 10, 10, 400, 300, nullptr, nullptr);
}

void Pump() {
    MSG msg;
    for (int i = 0; i < 10000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void RunQueue() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (!App().PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

std::string ItemText(HWND dialog, int id) {
    char buffer[512] = {};
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

void SerializeBytes(CArchive &ar, std::string &content) {
    if (ar.IsStoring()) {
        ar.Write(content.data(), static_cast<UINT>(content.size()));
    } else {
        content.clear();
        char buf[64];
        for (UINT n; (n = ar.Read(buf, sizeof buf)) > 0;)
            content.append(buf, n);
    }
}

} // namespace fwtest
