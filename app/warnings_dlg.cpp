#include "app/warnings_dlg.h"

#include <wx/artprov.h>
#include <wx/clipbrd.h>
#include <wx/display.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "app/gui_report.h"
#include "app/wx_strings.h"

namespace halvic::app {

namespace {

// The list's size when shown, in dialog units: room for a line of a long warning and a dozen lines.
constexpr int kListWidth = 320, kListHeight = 120;

}  // namespace

CWarningsDlg::CWarningsDlg(const std::vector<CWarning>& warnings, const std::string& folder)
    : wxDialog(nullptr, wxID_ANY, kWarningsTitle, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxRESIZE_BORDER | wxDIALOG_NO_PARENT),
      m_strDetails(DetailsText(warnings)),
      m_strFolder(folder) {
    const std::string summary = WarningsText(warnings, folder);
    Report("warnings", summary);

    auto* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(new wxStaticBitmap(this, wxID_ANY,
                                wxArtProvider::GetBitmap(wxART_WARNING, wxART_MESSAGE_BOX)),
             0, wxALL, FromDIP(10));
    auto* text = new wxStaticText(this, wxID_ANY, ToDisplay(summary));
    text->Wrap(ConvertDialogToPixels(wxSize(kListWidth - 30, 0)).x);
    top->Add(text, 1, wxTOP | wxRIGHT | wxBOTTOM, FromDIP(10));

    m_pList = new wxTextCtrl(this, wxID_ANY, ToDisplay(m_strDetails), wxDefaultPosition,
                             ConvertDialogToPixels(wxSize(kListWidth, kListHeight)),
                             wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
    m_pList->Hide();

    m_pDetails = new wxButton(this, wxID_ANY, "&Details");
    auto* copy = new wxButton(this, wxID_ANY, "&Copy");
    auto* save = new wxButton(this, wxID_ANY, "&Save...");
    auto* ok = new wxButton(this, wxID_OK, "OK");
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(m_pDetails);
    buttons->AddStretchSpacer();
    buttons->Add(copy, 0, wxLEFT, FromDIP(6));
    buttons->Add(save, 0, wxLEFT, FromDIP(6));
    buttons->Add(ok, 0, wxLEFT, FromDIP(6));

    auto* all = new wxBoxSizer(wxVERTICAL);
    all->Add(top, 0, wxEXPAND);
    all->Add(m_pList, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(10));
    all->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(10));
    SetSizerAndFit(all);
    CentreOnScreen();

    ok->SetDefault();
    ok->SetFocus();
    SetEscapeId(wxID_OK);
    m_pDetails->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ToggleDetails(); });
    copy->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { CopyDetails(); });
    save->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { SaveDetails(); });
}

void CWarningsDlg::ToggleDetails() {
    const bool show = !m_pList->IsShown();
    m_pList->Show(show);
    m_pDetails->SetLabel(show ? "Hide &details" : "&Details");
    if (show)
        Report("details", m_strDetails.substr(0, m_strDetails.size() - 1));  // less its last \n
    GetSizer()->SetSizeHints(this);  // the window grows for the list, and shrinks without it
    Fit();
    // Grown down past the screen's edge, it moves up into view.
    const wxRect screen = wxDisplay(this).GetClientArea();
    if (!screen.Contains(GetScreenRect())) CentreOnScreen();
}

void CWarningsDlg::CopyDetails() {
    wxClipboardLocker clipboard;
    if (!clipboard || !wxTheClipboard->SetData(new wxTextDataObject(ToDisplay(m_strDetails)))) {
        wxMessageBox(kNoClipboardMessage, kNotCopiedTitle, wxOK | wxICON_ERROR, this);
        return;
    }
    Report("copied", "");
}

void CWarningsDlg::SaveDetails() {
    wxFileDialog dialog(this, kSaveWarningsTitle, ToDisplay(m_strFolder), kWarningsFileName,
                        "Text files (*.txt)|*.txt|All files|*", wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dialog.ShowModal() != wxID_OK) return;
    const std::string path = ToFileName(dialog.GetPath());
    std::string message;
    if (!SaveTextFile(path, m_strDetails, message)) {
        Report("message", message);
        wxMessageBox(ToDisplay(message), kNotSavedTitle, wxOK | wxICON_ERROR, this);
        return;
    }
    Report("saved", path);
}

}  // namespace halvic::app
