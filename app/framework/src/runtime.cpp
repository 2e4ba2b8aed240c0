// Runtime classes and the command user-interface state.
#include "internal.h"

CObject *CRuntimeClass::CreateObject() const {
    return m_pfnCreateObject ? m_pfnCreateObject() : nullptr;
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass *base) const {
    for (const CRuntimeClass *c = this; c; c = c->m_pBaseClass)
        if (c == base)
            return TRUE;
    return FALSE;
}

CRuntimeClass CObject::classCObject = {"CObject", sizeof(CObject), nullptr, nullptr};
CRuntimeClass *CObject::GetRuntimeClass() const {
    return &classCObject;
}

BOOL CObject::IsKindOf(const CRuntimeClass *cls) const {
    return GetRuntimeClass()->IsDerivedFrom(cls);
}

CObject *AfxDynamicDownCast(const CRuntimeClass *cls, CObject *object) {
    return object && object->IsKindOf(cls) ? object : nullptr;
}

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)
IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)
IMPLEMENT_DYNAMIC(CListCtrl, CWnd)
IMPLEMENT_DYNAMIC(CTreeCtrl, CWnd)
IMPLEMENT_DYNAMIC(CDialog, CWnd)
IMPLEMENT_DYNAMIC(CWinApp, CCmdTarget)

// ---------------------------------------------------------------------------------------
// CCmdUI

void CCmdUI::Enable(BOOL on) {
    m_bEnabled = on;
    m_bEnableChanged = TRUE;
    if (m_hMenu && !m_hSubMenu)
        EnableMenuItem(m_hMenu, m_nIndex,
                       MF_BYPOSITION | (on ? MF_ENABLED : (MF_DISABLED | MF_GRAYED)));
}

void CCmdUI::SetCheck(int check) {
    m_nCheck = check;
    if (m_hMenu && !m_hSubMenu)
        CheckMenuItem(m_hMenu, m_nIndex, MF_BYPOSITION | (check ? MF_CHECKED : MF_UNCHECKED));
}

void CCmdUI::SetRadio(BOOL on) {
    m_nCheck = on ? 1 : 0;
    if (m_hMenu && !m_hSubMenu) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_STATE;
        if (GetMenuItemInfoA(m_hMenu, m_nIndex, TRUE, &info)) {
            info.fType = on ? (info.fType | MFT_RADIOCHECK) : (info.fType & ~MFT_RADIOCHECK);
            info.fState = on ? (info.fState | MFS_CHECKED) : (info.fState & ~MFS_CHECKED);
            SetMenuItemInfoA(m_hMenu, m_nIndex, TRUE, &info);
        }
    }
}

void CCmdUI::SetText(LPCSTR text) {
    if (!m_hMenu || m_hSubMenu)
        return;
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = const_cast<LPSTR>(text ? text : "");
    SetMenuItemInfoA(m_hMenu, m_nIndex, TRUE, &info);
}

BOOL CCmdUI::DoUpdate(CCmdTarget *target, BOOL disableIfNoHandler) {
    if (!target)
        return FALSE;
    m_bEnableChanged = FALSE;
    BOOL handled = target->OnCmdMsg(m_nID, CN_UPDATE_COMMAND_UI, this, nullptr);
    if (!handled && disableIfNoHandler && !m_bEnableChanged) {
        AFX_CMDHANDLERINFO info = {nullptr, nullptr};
        Enable(target->OnCmdMsg(m_nID, CN_COMMAND, this, &info));
    }
    return handled;
}
