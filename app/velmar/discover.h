// CDiscover: the printer discovery dialog. A worker thread runs the port API's searches
// (parallel, USB, then IP) in turn; the port API's callback posts each printer found to the
// dialog, which makes it a row of the printer bar.
#pragma once

#include "framework.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "buffer.h"
#include "corvane.h"

// Posted to the dialog: a result block in lParam (name NUL port NUL), or none.
constexpr UINT WM_DISCOVER_RESULT = WM_APP + 1;
// Posted by the worker: searching state; wParam is the label's index.
constexpr UINT WM_DISCOVER_SEARCHING = WM_APP + 2;
// The worker's last act: the UI thread finishes the run.
constexpr UINT WM_DISCOVER_DONE = WM_APP + 3;

// The result blocks' heap (one object of its own).
char *AllocResultBlock(std::size_t size);
void FreeResultBlock(char *block);

// Whether the user is an administrator (the shell's test; one object of its own).
bool DiscoverUserIsAdmin();

class CDiscover : public CDialog {
  public:
    explicit CDiscover(CWnd *parent = nullptr);
    ~CDiscover() override;

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange *pDX) override;

    void SetIdleState();
    void SetSearchingState(const char *label);
    // One search of the port API; returns when it ended, was stopped or did not start.
    void RunDiscovery(DWORD kind, const char *targets, const char *label);

    // Scope list: on entry the saved '/'-joined text; while searching, the multi-sz list;
    // after Exit, the entries joined by '/'. Owned by the dialog.
    std::unique_ptr<CMBuffer> m_scopes;
    std::atomic<bool> m_running{false};
    CListCtrl *m_printerBar = nullptr;
    std::atomic<bool> m_ended{false};
    int m_showLpt = TRUE;
    int m_showUsb = TRUE;
    int m_showIp = TRUE;
    std::atomic<bool> m_cancel{true};
    std::atomic<bool> m_idle{true};
    DWORD m_uiThreadId = 0;

  protected:
    void OnOK() override;     // Start / Stop
    void OnCancel() override; // Exit
    void OnAddScope();
    void OnRemoveScope();
    void OnDefaultScope();
    void OnAddressChange();
    void OnScopeSelChange();
    void OnHelp();
    void OnDestroy();
    LRESULT OnResult(WPARAM wParam, LPARAM lParam);
    LRESULT OnSearching(WPARAM wParam, LPARAM lParam);
    LRESULT OnDone(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

  private:
    friend DWORD WINAPI DiscoveryThread(void *dialog);
    static void CALLBACK Found(HANDLE h, const DiscoveredPrinter *printer, void *context);
    std::vector<std::string> ScopeEntries();
    void UpdateAddEnable();
    void UpdateRemoveEnable();
    void JoinWorker();
    void AddScopes(const std::string &saved);

    HANDLE m_worker = nullptr;
    std::atomic<HWND> m_target{nullptr}; // where the worker and the callback post
    // Boxes disabled at opening: not searched this run, their flags given back unchanged.
    bool m_lptOff = false;
    bool m_usbOff = false;
    int m_savedLpt = TRUE;
    int m_savedUsb = TRUE;
};

DWORD WINAPI DiscoveryThread(void *dialog);
