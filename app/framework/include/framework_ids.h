// Resource and command ids of the application framework. Holds only #defines, so windres
// can include it from a .rc file as well as C++ code.
#pragma once

// String of the executable (or resource module) that names the application.
#define AFX_IDS_APP_TITLE 0xE000

// Standard commands.
#define ID_FILE_NEW 57600
#define ID_FILE_OPEN 57601
#define ID_FILE_SAVE 57603
#define ID_FILE_SAVE_AS 57604
#define ID_FILE_MRU_FILE1 57616
#define ID_FILE_MRU_FILE16 57631
#define ID_WINDOW_ARRANGE 57649
#define ID_WINDOW_CASCADE 57650
#define ID_WINDOW_TILE_HORZ 57651
#define ID_APP_ABOUT 57664
#define ID_APP_EXIT 57665
#define ID_VIEW_AUTOARRANGE 59397
#define ID_VIEW_SMALLICON 59408
#define ID_VIEW_LARGEICON 59409
#define ID_VIEW_LIST 59410
#define ID_VIEW_DETAILS 59411
#define ID_VIEW_BYNAME 59413

// Status bar indicators.
#define ID_INDICATOR_EXT 59136
#define ID_INDICATOR_CAPS 59137
#define ID_INDICATOR_NUM 59138
#define ID_INDICATOR_SCRL 59139
#define ID_INDICATOR_OVR 59140
#define ID_INDICATOR_REC 59141

// Ids of the framework's own windows.
#define AFX_IDW_TOOLBAR 0xE800
#define AFX_IDW_STATUS_BAR 0xE801
#define AFX_IDW_PANE_FIRST 0xE900

// The framework's own texts (English fallbacks are built in).
#define AFX_IDS_OPENFILE 61440
#define AFX_IDS_SAVEFILE 61441
#define AFX_IDS_ALLFILTER 61442
#define AFX_IDS_UNTITLED 61443
#define AFX_IDP_ASK_TO_SAVE 61444
#define AFX_IDP_FAILED_TO_SAVE_DOC 61445
#define AFX_IDP_FAILED_TO_OPEN_DOC 61446
