// The one-time set-up of a test program's application object: common controls, the image
// lists with the program's icons, and nimbrel.dll as the resource module.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "frames.h"
#include "resource_ids.h"
#include "suite_paths.h"
#include "zqapp.h"

inline void PrepareTestApp(CZqApp &app) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0x1FFF};
    InitCommonControlsEx(&controls);
    app.m_largeImages.Create(32, 32, ILC_COLOR8 | ILC_MASK, 15, 1);
    app.m_smallImages.Create(16, 16, ILC_COLOR8 | ILC_MASK, 15, 1);
    for (UINT id = 9000; id <= 9014; ++id)
        app.AddIconToImageLists(id);
    app.m_hResources = LoadLibraryA(suite::BinPath("nimbrel.dll").c_str());
    AfxSetResourceHandle(app.m_hResources);
}

// The project template (project windows), as the application's start-up adds it.
inline void AddProjectTemplate(CZqApp &app) {
    app.m_projectTemplate =
        new CMultiDocTemplate(IDR_PROJECT_TYPE, RUNTIME_CLASS(CZqDoc), RUNTIME_CLASS(CChildFrame),
                              RUNTIME_CLASS(CLeftView));
    app.AddDocTemplate(app.m_projectTemplate);
}
