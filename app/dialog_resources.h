// Identifiers shared by the Windows dialog's resource script and its code.
#pragma once

#define IDD_FILENAME 102        // the dialog template
#define IDI_HALVIC 1            // the application icon
#define IDC_FILENAME 1000       // the edit box
#define IDD_WAITING 103         // the window shown while another conversion goes first
#define IDC_WAITING 1001        // its text
#define IDD_WARNINGS 104        // the box after a conversion with warnings
#define IDC_WARNINGS_ICON 1002  // its icon
#define IDC_WARNINGS_TEXT 1003  // its text: the count, the first few, the folder
#define IDC_DETAILS 1004        // "Details": shows or hides the list of every warning
#define IDC_COPY 1005           // puts the list on the clipboard
#define IDC_SAVE 1006           // saves the list to a text file
#define IDC_DETAILS_LIST 1007   // the list
#define IDD_PROGRESS 105        // the window that shows how far a conversion has got
#define IDC_PROGRESS_TEXT 1008  // its text: "Converting NAME"
#define IDC_PROGRESS_BAR 1009   // its progress bar
