#pragma once
// Resource identifiers of ZentrafoldUpload.

#define IDD_UPLOAD_NOTICE 102
#define IDI_ZENTRAFOLD 128
#define IDB_NOTICE 129

#define IDC_NOTICE_TEXT 1001
#define IDC_NOTES_LABEL 1002
#define IDC_TITLE_LABEL 1003
#define IDC_NOTES 1004
#define IDC_TITLE 1005
