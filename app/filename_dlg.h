// CFilenameDlg: the one dialog of halvic-gui, asking for the name of the file to convert.
#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/string.h>
#include <wx/textctrl.h>

namespace halvic::app {

class CFilenameDlg : public wxDialog {
  public:
    // The edit box's id, the same as in the Windows dialog's template.
    static constexpr int kIdFilename = 1000;

    // The edit box starts with `strFilename`. `bAgain`: the dialog opens again after a failure,
    // with the focus in the edit box and its text selected, so that a mistyped name is corrected
    // or replaced at once.
    explicit CFilenameDlg(wxWindow* pParent = nullptr, const wxString& strFilename = wxString(),
                          bool bAgain = false);

    // The edit box's text as typed, once the dialog has ended with OK.
    const wxString& Filename() const { return m_strFilename; }

    // Test hook: writes the dialog's layout in pixels, and its dialog-unit base, to `path` (see
    // tests/gui/gui_test.sh). Returns false when the file cannot be written.
    bool WriteLayoutReport(const wxString& path) const;

  private:
    void OnInitDialog(wxInitDialogEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void ShowHelp();
    bool CompletionListShown() const;

    wxString m_strFilename;    // bound to the edit box
    wxString m_strReportPath;  // HALVIC_GUI_REPORT, or empty
    bool m_bAgain = false;     // opened again after a failure
    wxButton* m_pOk = nullptr;
    wxButton* m_pCancel = nullptr;
    wxStaticText* m_pLabel = nullptr;
    wxTextCtrl* m_pEdit = nullptr;
};

}  // namespace halvic::app
