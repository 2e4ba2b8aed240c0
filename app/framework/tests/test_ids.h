// Ids of the framework tests' own resources.
#pragma once

#define IDD_EXCHANGE 100
#define IDD_LISTS 101
#define IDD_MISSING 9999
#define IDC_NAME 1001
#define IDC_ENABLED 1002
#define IDC_LIST 1003
#define IDC_TREE 1004
#define IDC_LISTBOX 1005
#define IDC_ADDRESS 1006
#define IDC_SPIN 1007
#define IDC_OTHER 1008
#define IDS_GREETING 200
#define IDS_FORMAT 201
#define IDS_LONG 202
#define IDS_MODULE_ONLY 300
#define IDR_FRAME 300
#define IDR_NO_MENU 301
#define ID_FRAME_CMD 5001
#define ID_APP_CMD 5002
#define ID_NO_HANDLER 5003
#define ID_DISABLED 5004
#define ID_CHECKED 5005
