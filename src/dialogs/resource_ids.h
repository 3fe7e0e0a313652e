// Identifiers of the stub's resources and of the dialog controls that code
// reaches. Plain macros, since the resource script includes this file too.
#pragma once

// Dialog templates.
#define IDD_INSTALL 103
#define IDD_CREDITS 104
#define IDD_LICENSE 106

// The program file's icon group.
#define IDI_PROGRAM 101

// The payload anchor: type "LASTRES", name 1000.
#define IDR_PAYLOAD_ANCHOR 1000

// Install dialog: receives "<title> Screen Saver".
#define IDC_INSTALL_TITLE 1001

// License dialog: the read-only edit control that shows the license text.
#define IDC_LICENSE_TEXT 1009
