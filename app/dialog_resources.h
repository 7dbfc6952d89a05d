// Identifiers shared by the Windows dialog's resource script and its code.
#pragma once

#define IDD_FILENAME 102   // the dialog template
#define IDI_HALVIC 1       // the application icon
#define IDC_FILENAME 1000  // the edit box
