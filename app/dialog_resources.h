// Identifiers shared by the Windows dialog's resource script and its code.
#pragma once

#define IDD_FILENAME 102   // the dialog template
#define IDI_HALVIC 1       // the application icon
#define IDC_FILENAME 1000  // the edit box
#define IDD_WAITING 103    // the window shown while another conversion goes first
#define IDC_WAITING 1001   // its text
