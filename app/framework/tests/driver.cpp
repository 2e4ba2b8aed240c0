// A program on the framework's own WinMain, for the tests: swaps in the resource module's
// application name, writes a profile value, calls help, shows a box, opens its main window.
// With "fail" on the command line InitInstance gives FALSE; a file argument goes to its
// OpenDocumentFile, which opens only ".opj" names.
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework.h"

namespace {

class MainWindow : public CWnd {
  public:
    void PostNcDestroy() override { delete this; }
};

char *Copy(const char *text) {
    size_t n = std::strlen(text) + 1;
    char *out = static_cast<char *>(std::malloc(n));
    std::memcpy(out, text, n);
    return out;
}

class DriverApp : public CWinApp {
  public:
    DriverApp() { EnableHtmlHelp(); }

    // Logs the path; a project (".opj", any case) opens, anything else fails.
    CDocument *OpenDocumentFile(LPCSTR path) override {
        AfxMessageBox((std::string("open: ") + path).c_str(), MB_OK);
        size_t n = std::strlen(path);
        static int opened;
        return n > 4 && _stricmp(path + n - 4, ".opj") == 0 ? reinterpret_cast<CDocument *>(&opened)
                                                            : nullptr;
    }

    BOOL InitInstance() override {
        std::string before = m_pszAppName ? m_pszAppName : "(null)";
        AfxMessageBox(("name before: " + before).c_str(), MB_OK);
        if (std::strstr(m_lpCmdLine, "fail"))
            return FALSE;
        CCommandLineInfo info;
        ParseCommandLine(info);
        if (!ProcessShellCommand(info))
            return FALSE;

        char exe[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, exe, MAX_PATH);
        std::string folder(exe);
        folder.erase(folder.find_last_of('\\'));
        HINSTANCE module = LoadLibraryA((folder + "\\framework_testmodule.dll").c_str());
        AfxSetResourceHandle(module);
        AfxSetResourceHandle(nullptr); // keeps the module
        CString name;
        name.LoadString(AFX_IDS_APP_TITLE);
        std::free(const_cast<char *>(m_pszAppName));
        m_pszAppName = Copy(name);
        std::free(const_cast<char *>(m_pszHelpFilePath));
        m_pszHelpFilePath = Copy((folder + "\\Missing.chm").c_str());

        SetRegistryKey("FrameworkDriverTest");
        WriteProfileString("Recent File List", "File1", "C:\\projects\\one.opj");
        WriteProfileInt("Settings", "Count", 6);
        CString back = GetProfileString("Recent File List", "File1");
        UINT count = GetProfileInt("Settings", "Count", 0);
        HtmlHelp(0, 0);
        AfxMessageBox((std::string("profile: ") + static_cast<const char *>(back) + " " +
                       std::to_string(count))
                          .c_str(),
                      MB_OK);

        auto *frame = new MainWindow;
        if (!frame->CreateEx(0, nullptr, m_pszAppName, WS_OVERLAPPEDWINDOW, 20, 20, 300, 200,
                             nullptr, nullptr))
            return FALSE;
        m_pMainWnd = frame;
        frame->ShowWindow(m_nCmdShow);
        frame->UpdateWindow();
        return TRUE;
    }
};

DriverApp theApp;

} // namespace
