/* Resource ids shared by velmar and its resource modules nimbrel and gorwin.
   Read by windres and by C++: preprocessor lines only. Every id the application asks
   of either module is defined here and nowhere else. The framework's ids are guarded
   so that the framework's own ids header may define the same numbers beside this one. */
#ifndef KELVANE_RESOURCE_IDS_H
#define KELVANE_RESOURCE_IDS_H

/* ---- nimbrel: resources of the main frame and the document templates ---- */
#define IDR_MAINFRAME            109   /* menu, accelerators, toolbar, bitmap, icon, title */
#define IDR_PROJECT_TYPE         110   /* "Project" template: icon and template string */
#define IDR_RESOURCE_TYPE        111   /* "Resource" template: icon and template string */
#define IDR_PRINTERS_TYPE        126   /* "Printers" template string */
#define VS_VERSION_BLOCK         1

/* Custom resource type of the toolbar (not in mingw-w64's headers). */
#ifndef RT_TOOLBAR
#define RT_TOOLBAR               241
#endif

/* ---- nimbrel: dialogs ---- */
#define IDD_ABOUTBOX             100
#define IDD_ADD_PRINTER          124
#define IDD_EDIT_NAME_ID         125
#define IDD_PRINTER_BAR          130
#define IDD_SPOOL_JOBS           132
#define IDD_ADMIN_PASSWORD       133
#define IDD_PCL_FILTERS          134
#define IDD_PRINTER_PROPERTIES   136
#define IDD_DISCOVER             138
#define IDD_DELETE_FILE          140
#define IDD_FORMAT_PARTITION     142
#define IDD_PARAMETER            143
#define IDD_GET_DEMO             145
#define IDD_PASSWORD             149
#define IDD_CHANGE_PASSWORD      158

/* Help button of every dialog but 100, 130 and 136. */
#define IDC_DIALOG_HELP          153

/* Dialog 100, about box */
#define IDC_ABOUT_VERSION        1081
#define IDC_ABOUT_BUILD          1082

/* Dialog 124, printer list */
#define IDC_PRINTER_IP_ADDRESS   1000
#define IDC_PRINTER_LIST_VIEW    1052
#define IDC_ADD_PRINTER          1053
#define IDC_REMOVE_PRINTER       1054
#define IDC_PRINTER_NAME         1055

/* Dialog 125, file details */
#define IDC_DETAIL_NAME          1002
#define IDC_DETAIL_ID            1003
#define IDC_DETAIL_VOLUME        1004
#define IDC_DETAIL_PATH          1005

/* Dialog 130, printer bar */
#define IDC_PRINTER_BAR_LIST     1004

/* Dialog 132, held print jobs */
#define IDC_SPOOL_PRINT          4
#define IDC_SPOOL_CANCEL         6
#define IDC_SPOOL_APPLY_PIN      154
#define IDC_SPOOL_VIEW_USER      155
#define IDC_SPOOL_VIEW_ALL       156
#define IDC_SPOOL_SHOW_PROOF     1006
#define IDC_SPOOL_SHOW_SECURE    1007
#define IDC_SPOOL_PIN            1008
#define IDC_SPOOL_PASSWORD       1009
#define IDC_SPOOL_APPLY_PASSWORD 1044
#define IDC_SPOOL_JOB_LIST       1045
#define IDC_SPOOL_PIN_RANGE      1094

/* Dialogs 133 and 149, administrator login */
#define IDC_ADMIN_CHANGE_PASSWORD 157
#define IDC_ADMIN_PASSWORD       1011
#define IDC_ADMIN_INITIALISE     1057
#define IDC_ADMIN_DELETE_FILE    1060
#define IDC_ADMIN_REBOOT         1069

/* Dialog 134, print-file filter flags 0-27 */
#define IDC_FILTER_FORMFEED      1020
#define IDC_FILTER_RESET         1021
#define IDC_FILTER_PAPER_SIZE    1022
#define IDC_FILTER_LINE_SPACING  1023
#define IDC_FILTER_VMI           1024
#define IDC_FILTER_TOP_MARGIN    1025
#define IDC_FILTER_TEXT_LENGTH   1026
#define IDC_FILTER_OUTPUT_BIN    1027
#define IDC_FILTER_PAPER_TRAY    1028
#define IDC_FILTER_ORIENTATION   1029
#define IDC_FILTER_SKIP_PERF     1030
#define IDC_FILTER_DUPLEX        1031
#define IDC_FILTER_JOB_SEPARATION 1032
#define IDC_FILTER_COPIES        1033
#define IDC_FILTER_LEFT_OFFSET   1034
#define IDC_FILTER_TOP_OFFSET    1035
#define IDC_FILTER_PUSH_POP      1036
#define IDC_FILTER_SPLIT_MACROS  1037
#define IDC_FILTER_CONFIG_IMAGE  1038
#define IDC_FILTER_ILLUMINANT    1039
#define IDC_FILTER_DRIVER_CONFIG 1040
#define IDC_FILTER_RENDER        1041
#define IDC_FILTER_PALETTE_ID    1042
#define IDC_FILTER_PALETTE       1043
#define IDC_FILTER_MONOCHROME    1076
#define IDC_FILTER_PAGE_SIDE     1083
#define IDC_FILTER_PRINT_DIRECTION 1084
#define IDC_FILTER_PAGE_LENGTH   1085
#define IDC_FILTER_DEFAULTS      1090

/* Dialog 136, printer properties */
#define IDC_PROPERTIES_TREE      137

/* Dialog 138, printer discovery */
#define IDC_DISCOVER_SHOW_IP     1001
#define IDC_DISCOVER_SHOW_LPT    1002
#define IDC_DISCOVER_SHOW_USB    1003
#define IDC_DISCOVER_LABEL       1051
#define IDC_DISCOVER_STATUS      1054
#define IDC_DISCOVER_SCOPE_LIST  1086
#define IDC_DISCOVER_ADDRESS     1087
#define IDC_DISCOVER_ADD_SCOPE   1088
#define IDC_DISCOVER_REMOVE      1089
#define IDC_DISCOVER_DEFAULT     1092

/* Dialog 140, file deletion */
#define IDC_DELETE_PATH          1061

/* Dialog 142, volume initialisation */
#define IDC_FORMAT_VOLUME_LIST   1062
#define IDC_FORMAT_FLASH_SIZE    1067
#define IDC_FORMAT_FLASH_LABEL   1068
#define IDC_FORMAT_PCL           1070
#define IDC_FORMAT_COMMON        1071
#define IDC_FORMAT_POSTSCRIPT    1072
#define IDC_FORMAT_ENTIRE_DISK   1074
#define IDC_FORMAT_ENTIRE_FLASH  1075
#define IDC_FORMAT_FLASH_UNIT    1095
#define IDC_FORMAT_LOCK_2        1101
#define IDC_FORMAT_LOCK_3        1102
#define IDC_FORMAT_PERCENT_1     1109
#define IDC_FORMAT_SPIN_1        1110
#define IDC_FORMAT_PERCENT_2     1111
#define IDC_FORMAT_SPIN_2        1112
#define IDC_FORMAT_PERCENT_3     1113
#define IDC_FORMAT_SPIN_3        1114
#define IDC_FORMAT_LOCK_1        1115
#define IDC_FORMAT_HDD_GROUP     1116
#define IDC_FORMAT_FLASH_GROUP   1117

/* Dialog 143, parameter */
#define IDC_PARAM_VALUE          1063
#define IDC_PARAM_LABEL_1        1064
#define IDC_PARAM_LABEL_2        1065
#define IDC_PARAM_CHECK          1066

/* Dialog 145, chooser */
#define IDC_DEMO_LIST            146

/* Dialog 158, password change */
#define IDC_NEW_PASSWORD         1012
#define IDC_CONFIRM_PASSWORD     1013
#define IDC_CHANGE_PASSWORD      1118

/* ---- nimbrel: menu 109 commands ---- */
#define ID_NEW_PROJECT           101
#define ID_ADD_FILE_TO_PROJECT   102
#define ID_CREATE_DOWNLOAD_FILE  104
#define ID_SEND_DOWNLOAD_FILE    105
#define ID_SEND_PROJECT_FILES    106
#define ID_FILTER_MACRO_FILE     107
#define ID_SHOW_RESOURCES        112
#define ID_CLOSE_RESOURCE        113
#define ID_REFRESH_FOLDER_VIEW   114
#define ID_ADD_REMOVE_PRINTERS   116
#define ID_ADMIN_FUNCTIONS       118
#define ID_PRINTER_PROPERTIES    119
#define ID_PRINT_DEMO_PAGE       120
#define ID_PRINT_PCL_FONTS       121
#define ID_TEST_MACRO            122
#define ID_HDD_PRINT_JOBS        123
#define ID_PRINT_PS_FONTS        144
#define ID_HELP_TOPICS           147
#define ID_TEST_FORM             148
#define ID_EDIT_DOWNLOAD_DETAILS 150
#define ID_PRINT_FILE_LISTING    152
#define ID_DELETE_FILES          159
#define ID_DISCOVER_PRINTERS     160
#define ID_CLOSE_PROJECT         1059
#define ID_PRINT_PS_FONT_SAMPLE  1091
#define ID_REMOVE_FILE_FROM_PROJECT 30771

/* ---- nimbrel: strings ---- */
/* Command prompts: status text, "\n", tool tip. */
#define IDS_PROMPT_103           103
#define IDS_PROMPT_115           115
#define IDS_PROMPT_117           117
/* Fixed texts */
#define IDS_HELD_JOB_COLUMNS     108
#define IDS_PRODUCT_NAME         109
#define IDS_PROPERTY_CURRENT_VALUE 127
#define IDS_PROPERTY_VARIABLES   128
#define IDS_PROPERTY_CONFIGURATION 129
#define IDS_PROPERTY_SETTINGS    130
#define IDS_PROPERTY_STATUS      131
#define IDS_ADD_FORM_FEED        1078
#define IDS_TEST_POSTSCRIPT_FORM 1080
/* Messages, labels, column titles and file filters */
#define IDS_NO_PROJECT_TEMPLATE  10000
#define IDS_UNUSED_10001         10001
#define IDS_ADD_FILE_FILTER      10002
#define IDS_FILTER_FILE_CREATED  10003
#define IDS_INFORMATION          10004
#define IDS_NO_RESOURCE_TEMPLATE 10005
#define IDS_ERR_UNSUPPORTED_PORT 10006
#define IDS_ERR_INVALID_PARAMETER 10007
#define IDS_ERR_NOT_ENOUGH_MEMORY 10008
#define IDS_ERR_DLL_NOT_FOUND    10009
#define IDS_ERR_INVALID_DLL      10010
#define IDS_ERR_INITIALISE_FUNCTION 10011
#define IDS_ERR_RESERVED_10012   10012
#define IDS_ERR_INVALID_PORT_HANDLE 10013
#define IDS_ERR_JOB_PROCESSING   10014
#define IDS_ERR_JOB_ALREADY_OPEN 10015
#define IDS_ERR_JOB_NOT_OPEN     10016
#define IDS_ERR_STATUS_NOT_FOUND 10017
#define IDS_ERR_STATUS_NOT_STARTED 10018
#define IDS_ERR_STATUS_TIMEOUT   10019
#define IDS_ERR_STATUS_INIT      10020
#define IDS_ERR_UNRECOGNISED     10021
#define IDS_ERR_ACCESS_DENIED    10022
#define IDS_ERR_PORT_WRITE       10023
#define IDS_ERR_PORT_READ        10024
#define IDS_COL_COMPONENT        10025
#define IDS_COL_ID               10026
#define IDS_COL_TARGET_VOLUME    10027
#define IDS_COL_TARGET_PATH      10028
#define IDS_PROP_FULL_PATH       10029
#define IDS_PROP_FILE_TYPE       10030
#define IDS_PROP_FILE_SIZE       10031
#define IDS_PROP_CREATION_DATE   10032
#define IDS_PROP_BITMAP_FONT_NAME 10033
#define IDS_PROP_FORMAT          10034
#define IDS_PROP_X_RESOLUTION    10035
#define IDS_PROP_Y_RESOLUTION    10036
#define IDS_PROP_FONT_TYPE       10037
#define IDS_PROP_SYMBOL_SET      10038
#define IDS_PROP_PROPORTIONAL    10039
#define IDS_PROP_FIXED           10040
#define IDS_PROP_PROPORTIONALITY 10041
#define IDS_PROP_PITCH           10042
#define IDS_PROP_HEIGHT          10043
#define IDS_PROP_STYLE           10044
#define IDS_PROP_STROKE_WEIGHT   10045
#define IDS_PROP_TYPEFACE        10046
#define IDS_PROP_ESCAPE_SEQUENCE 10047
#define IDS_PROP_FAMILY_NAME     10048
#define IDS_PROP_TRUETYPE_NAME   10049
#define IDS_PROP_FONT_STYLE      10050
#define IDS_PROP_COPYRIGHT       10051
#define IDS_PROP_POSTSCRIPT_NAME 10052
#define IDS_COL_PROPERTY         10053
#define IDS_COL_VALUE            10054
#define IDS_PJL_FILE_FILTER      10055
#define IDS_SPOOL_FILE_FILTER    10056
#define IDS_COL_PRINTER_NAME     10057
#define IDS_COL_IP_ADDRESS       10058
#define IDS_COL_NAME             10059
#define IDS_COL_SIZE             10060
#define IDS_COL_FREE_SPACE       10061
#define IDS_COL_LOCATION         10062
#define IDS_COL_LABEL            10063
#define IDS_COL_STATUS           10064
#define IDS_NO_PASSWORD_FILE     10065
#define IDS_KIND_MACRO_FILE      10066
#define IDS_KIND_TRUETYPE_FONT   10067
#define IDS_KIND_BITMAPPED_FONT  10068
#define IDS_PASSWORD_ACCEPTED    10069
#define IDS_CONFIRM_INIT_PARTITION 10070
#define IDS_UNUSED_10071         10071
#define IDS_PRINTER_NOT_RESPONDING 10072
#define IDS_NO_PRINTER_ACCESS    10073
#define IDS_FLASH_SIZE_INCONSISTENT 10074
#define IDS_UNUSED_10075         10075
#define IDS_UNUSED_10076         10076
#define IDS_UNUSED_10077         10077
#define IDS_DUPLICATE_FILE       10078
#define IDS_UNUSED_10079         10079
#define IDS_OPERATION_FAILED     10080
#define IDS_START                10081
#define IDS_STOP                 10082
#define IDS_DISCOVERING_ON       10083
#define IDS_ERROR_CODE_FORMAT    10084
#define IDS_RESOURCE_MISCOUNT    10085
#define IDS_OFFER_REBOOT         10086
#define IDS_CONFIRM_INIT_DISK    10087
#define IDS_CONFIRM_INIT_FLASH   10088
#define IDS_UNUSED_10089         10089
#define IDS_COMMAND_ISSUED       10090
#define IDS_UNUSED_10091         10091
#define IDS_BOUND                10092
#define IDS_UNBOUND              10093
#define IDS_PROP_SYMBOL_SET_BOUND 10094
#define IDS_TEST_MACRO_TITLE     10095
#define IDS_TEST_MACRO_TEXT      10096
#define IDS_MACRO_IDS            10097
#define IDS_ERR_JOB_CONNECTION   10098
#define IDS_DEFAULT_FONT_EXT     10099
#define IDS_SECURE               10100
#define IDS_PROOF                10101
#define IDS_CONFIRM_OVERWRITE    10102
#define IDS_PRINTER_ON_PORT      10103
#define IDS_KIND_POSTSCRIPT_FORM 10104
#define IDS_KIND_POSTSCRIPT_FONT 10105
/* 10106 to 10108 are absent on purpose. */
#define IDS_CONFIRM_DELETE_FILE  10109
#define IDS_INVALID_PASSWORD     10110
#define IDS_VOLUME_PREFIX        10111
#define IDS_DEMO_NAME_CHANGED    10112
#define IDS_PS_FONT_SAMPLE       10113
#define IDS_PIN_RANGE_9999       10114
#define IDS_PRINT_JOBS_TITLE     10115
#define IDS_RESERVED_10116       10116
#define IDS_COPIES               10117
#define IDS_CONFIRM_PARTITION    10118
#define IDS_UNIT_PERCENT         10119
#define IDS_UNIT_BYTES           10120
#define IDS_ERR_DISK_NOT_INITIALIZED 10121
#define IDS_KIND_COLOUR_PROFILE  10122
#define IDS_PROP_DESCRIPTION     10123
#define IDS_UNUSED_10124         10124
#define IDS_UNUSED_10125         10125
#define IDS_PROP_SCREEN          10126
#define IDS_PROP_RESOLUTION      10127
#define IDS_PROP_MEDIA           10128
#define IDS_SCREEN_DEVICE_BEST   10129
#define IDS_SCREEN_CLUSTER       10130
#define IDS_RES_1200             10131
#define IDS_RES_600_1200         10132
#define IDS_RES_600              10133
#define IDS_MEDIA_PLAIN          10134
#define IDS_MEDIA_TRANSPARENCY   10135
#define IDS_PROP_PROFILE_NAME    10136
#define IDS_USER_PROFILE         10137
#define IDS_MISSING_FILE_NAME    10138
#define IDS_UNUSED_10139         10139
#define IDS_UNUSED_10140         10140
#define IDS_PRINTER_NO_ANSWER    10141
#define IDS_CANNOT_OPEN_FILE     10142
#define IDS_FILE_REMOVED         10143
#define IDS_DUPLICATE_SCOPE      10144
#define IDS_LANGUAGE_UNSUPPORTED 10145
#define IDS_UNKNOWN              10146
#define IDS_PASSWORDS_DIFFER     10147
#define IDS_PRINTER_EXISTS       10148

/* ---- nimbrel: the framework's resources (language 1033 where marked) ---- */
#ifndef AFX_IDS_APP_TITLE
#define AFX_IDS_APP_TITLE        0xE000   /* 57344 */
#endif
#ifndef AFX_IDS_IDLEMESSAGE
#define AFX_IDS_IDLEMESSAGE      57345
#endif
/* Standard commands */
#ifndef ID_FILE_NEW
#define ID_FILE_NEW              57600
#endif
#ifndef ID_FILE_OPEN
#define ID_FILE_OPEN             57601
#endif
#ifndef ID_FILE_SAVE
#define ID_FILE_SAVE             57603
#endif
#ifndef ID_FILE_SAVE_AS
#define ID_FILE_SAVE_AS          57604
#endif
#ifndef ID_FILE_MRU_FILE1
#define ID_FILE_MRU_FILE1        57616
#endif
#ifndef ID_WINDOW_ARRANGE
#define ID_WINDOW_ARRANGE        57649
#endif
#ifndef ID_WINDOW_CASCADE
#define ID_WINDOW_CASCADE        57650
#endif
#ifndef ID_WINDOW_TILE_HORZ
#define ID_WINDOW_TILE_HORZ      57651
#endif
#ifndef ID_APP_ABOUT
#define ID_APP_ABOUT             57664
#endif
#ifndef ID_APP_EXIT
#define ID_APP_EXIT              57665
#endif
#ifndef ID_VIEW_AUTOARRANGE
#define ID_VIEW_AUTOARRANGE      59397
#endif
#ifndef ID_VIEW_SMALLICON
#define ID_VIEW_SMALLICON        59408
#endif
#ifndef ID_VIEW_LARGEICON
#define ID_VIEW_LARGEICON        59409
#endif
#ifndef ID_VIEW_LIST
#define ID_VIEW_LIST             59410
#endif
#ifndef ID_VIEW_DETAILS
#define ID_VIEW_DETAILS          59411
#endif
#ifndef ID_VIEW_LINEUP
#define ID_VIEW_LINEUP           59412
#endif
#ifndef ID_VIEW_BYNAME
#define ID_VIEW_BYNAME           59413
#endif
/* Status bar indicators */
#ifndef ID_INDICATOR_EXT
#define ID_INDICATOR_EXT         59136
#endif
#ifndef ID_INDICATOR_CAPS
#define ID_INDICATOR_CAPS        59137
#endif
#ifndef ID_INDICATOR_NUM
#define ID_INDICATOR_NUM         59138
#endif
#ifndef ID_INDICATOR_SCRL
#define ID_INDICATOR_SCRL        59139
#endif
#ifndef ID_INDICATOR_OVR
#define ID_INDICATOR_OVR         59140
#endif
#ifndef ID_INDICATOR_REC
#define ID_INDICATOR_REC         59141
#endif
/* The framework's own texts */
#ifndef AFX_IDS_OPENFILE
#define AFX_IDS_OPENFILE         61440
#endif
#ifndef AFX_IDS_SAVEFILE
#define AFX_IDS_SAVEFILE         61441
#endif
#ifndef AFX_IDS_ALLFILTER
#define AFX_IDS_ALLFILTER        61442
#endif
#ifndef AFX_IDS_UNTITLED
#define AFX_IDS_UNTITLED         61443
#endif
#ifndef AFX_IDP_ASK_TO_SAVE
#define AFX_IDP_ASK_TO_SAVE      61444
#endif
#ifndef AFX_IDP_FAILED_TO_SAVE_DOC
#define AFX_IDP_FAILED_TO_SAVE_DOC 61445
#endif
#ifndef AFX_IDP_FAILED_TO_OPEN_DOC
#define AFX_IDP_FAILED_TO_OPEN_DOC 61446
#endif
/* Dialogs (1033): the "New" type chooser and its empty companion */
#ifndef AFX_IDD_NEWTYPEDLG
#define AFX_IDD_NEWTYPEDLG       30721
#endif
#ifndef AFX_IDD_EMPTYDIALOG
#define AFX_IDD_EMPTYDIALOG      30734
#endif
#ifndef AFX_IDC_LISTBOX
#define AFX_IDC_LISTBOX          100
#endif
/* Bitmaps (1033) */
#ifndef AFX_IDB_MINIFRAME_MENU
#define AFX_IDB_MINIFRAME_MENU   30994
#endif
#ifndef AFX_IDB_CHECKLISTBOX
#define AFX_IDB_CHECKLISTBOX     30996
#endif
/* Cursor groups (1033) */
#ifndef AFX_IDC_CONTEXTHELP
#define AFX_IDC_CONTEXTHELP      30977
#endif
#ifndef AFX_IDC_SMALLARROWS
#define AFX_IDC_SMALLARROWS      30979
#endif
#ifndef AFX_IDC_HSPLITBAR
#define AFX_IDC_HSPLITBAR        30980
#endif
#ifndef AFX_IDC_VSPLITBAR
#define AFX_IDC_VSPLITBAR        30981
#endif
#ifndef AFX_IDC_NODROPCRSR
#define AFX_IDC_NODROPCRSR       30982
#endif
#ifndef AFX_IDC_MOUSE_PAN_FIRST
#define AFX_IDC_MOUSE_PAN_FIRST  30998   /* pan cursors 30998 to 31011 */
#endif
#ifndef AFX_IDC_MOUSE_PAN_LAST
#define AFX_IDC_MOUSE_PAN_LAST   31011
#endif

/* ---- gorwin: typeface module ---- */
#define IDS_SUFFIX_MATH8         301
#define IDS_SUFFIX_PI_FONT       302
#define IDS_SUFFIX_LINE_DRAW     303
#define IDS_SUFFIX_PC_LINE       304
#define IDS_SUFFIX_US_LEGAL      305
#define IDS_TYPEFACE_BASE        1000   /* string id = base + (typeface AND mask) */
#define TYPEFACE_NUMBER_MASK     0xFFF
#define IDS_SYMBOL_SET_FIRST     5001
#define IDS_SYMBOL_SET_LAST      5023
#define RT_TRANSLATION_TABLE     257
#define IDR_XLATE_WIN_TO_ASCII   1    /* translation type 4 */
#define IDR_XLATE_WIN_TO_ROMAN8  2    /* type 1 */
#define IDR_XLATE_NONE           3    /* every other type */
#define IDR_XLATE_IDENTITY       4    /* types 2, 3 and 17 */
#define IDR_XLATE_LATIN_1        5    /* type 18 */
#define IDR_XLATE_OFFSET_A0      6    /* type 19 */

#endif
