// Resource identifiers of the slideshow screen saver (saver.rc).
#pragma once

#define IDD_SETTINGS 100
#define IDC_SECONDS 1001
#define IDC_ORDER_GIVEN 1002
#define IDC_ORDER_SHUFFLED 1003
#define IDC_FIT_WHOLE 1004
#define IDC_FIT_FILL 1005
#define IDC_MUSIC 1006
