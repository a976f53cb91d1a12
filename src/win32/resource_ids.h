/* Identifiers shared by the resource script and the window layer. The
   resource compiler reads only #define lines, so the numbers the command
   logic names as enums (ui/main_window_ids.h, ui/dialog_logic.h,
   core/progress.h) are repeated here; resource_ids.cpp checks that both
   agree. */
#pragma once

/* Main window (HARBOR) */
#define IDC_PC_DIRECTORY_LABEL 105
#define IDC_PC_DIRECTORY_BOX 106
#define IDC_PC_UP 107
#define IDC_PC_DRIVE_LABEL 108
#define IDC_PC_DRIVE_BOX 109
#define IDC_PC_HEADER 110
#define IDC_PC_LIST 111
#define IDC_PC_SCROLL 112
#define IDC_MAC_FOLDER_LABEL 113
#define IDC_MAC_FOLDER_BOX 114
#define IDC_MAC_UP 115
#define IDC_MAC_DRIVE_LABEL 116
#define IDC_MAC_DRIVE_BOX 117
#define IDC_MAC_HEADER 118
#define IDC_MAC_LIST 119
#define IDC_COPY 5000
#define IDC_NEW 5001
#define IDC_DELETE 5002
#define IDC_INFO 5003

/* Menu commands */
#define IDM_EXIT 2
#define IDM_SELECT_ALL 200
#define IDM_DESELECT_ALL 201
#define IDM_FORMAT 210
#define IDM_ABOUT 220
#define IDM_HELP 221
#define IDM_MAC_COPY_PREFS 270
#define IDM_PC_COPY_PREFS 271
#define IDM_SAVE_PREFS 272
#define IDM_COPY_PREFS 273
#define IDM_ALLOW_UPPER 274
#define IDM_OPEN_IMAGE 5010
#define IDM_NEW_IMAGE 5011

/* Bitmaps of the command buttons: Copy (PC face, Mac face), New, Delete, Info */
#define IDB_COPY_PC 5100
#define IDB_COPY_MAC 5101
#define IDB_NEW 5102
#define IDB_DELETE 5103
#define IDB_INFO 5104

/* Progress window */
#define IDC_PROGRESS_ITEM 174
#define IDC_PROGRESS_BAR 175

/* Information and creation dialogs */
#define IDC_PC_INFO_NAME 141
#define IDC_PC_INFO_SIZE 143
#define IDC_PC_INFO_DATE 145
#define IDC_MAC_INFO_NAME 151
#define IDC_MAC_INFO_TYPE 153
#define IDC_MAC_INFO_CREATOR 155
#define IDC_MAC_INFO_DATA_SIZE 157
#define IDC_MAC_INFO_RSRC_SIZE 159
#define IDC_MAC_INFO_DATE 161
#define IDC_CREATE_FOLDER_NAME 170
#define IDC_CREATE_DIR_NAME 172

/* Copy preference dialogs */
#define IDC_PPREF_TRANSLATOR 180
#define IDC_PPREF_USE_MAP 181
#define IDC_PPREF_TYPE 182
#define IDC_PPREF_CREATOR 183
#define IDC_PPREF_COPY_DIR 184
#define IDC_PPREF_FILTER 185
#define IDC_PPREF_FILTER_EXT 186
#define IDC_MPREF_TRANSLATOR 189
#define IDC_MPREF_USE_MAP 190
#define IDC_MPREF_EXTENSION 191
#define IDC_MPREF_COPY_DIR 192
#define IDC_MPREF_FILTER 193
#define IDC_MPREF_FILTER_TYPE 194
#define IDC_MPREF_FILTER_CREATOR 195
#define IDC_MPREF_FILTER_EXT 196
#define IDC_MPREF_AUTO_RENAME 198

/* About box */
#define IDC_ABOUT_TITLE 130
#define IDC_ABOUT_VERSION 131
#define IDC_ABOUT_LINE1 132
#define IDC_ABOUT_LINE2 133

/* Format dialog */
#define IDC_FORMAT_DRIVE_LABEL 116
#define IDC_FORMAT_DRIVE_BOX 117
#define IDC_FORMAT_LABEL 300

/* Collision dialogs */
#define IDC_PCOLLISION_EDIT 400
#define IDC_PCOLLISION_SKIP 401
#define IDC_PCOLLISION_OVERWRITE 402
#define IDC_PCOLLISION_NAME 403
#define IDC_PCOLLISION_PROMPT 404
#define IDC_MCOLLISION_EDIT 405
#define IDC_MCOLLISION_SKIP 406
#define IDC_MCOLLISION_OVERWRITE 407
#define IDC_MCOLLISION_NAME 408
#define IDC_MCOLLISION_PROMPT 409
