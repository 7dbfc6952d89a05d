#include "app/filename_dlg.h"

#include <wx/iconbndl.h>
#include <wx/msgdlg.h>
#include <wx/txtstrm.h>
#include <wx/utils.h>
#include <wx/valgen.h>
#include <wx/wfstream.h>

#include <algorithm>

#include "app/file_drop_target.h"
#include "app/file_name_completer.h"
#include "app/icons/halvic_16.xpm"
#include "app/icons/halvic_32.xpm"
#include "app/typed_name.h"
#include "app/wx_strings.h"

namespace halvic::app {

namespace {

// The dialog's size, in dialog units.
constexpr int kDialogWidth = 185, kDialogHeight = 50;

}  // namespace

CFilenameDlg::CFilenameDlg(wxWindow* pParent, const wxString& strFilename, bool bAgain)
    : wxDialog(pParent, wxID_ANY, "Halvic", wxDefaultPosition, wxDefaultSize,
               // caption and system menu with a close box; no minimise or maximise box, fixed
               // size; with no parent it is a window of its own on the taskbar
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxDIALOG_NO_PARENT),
      m_strFilename(strFilename),
      m_bAgain(bAgain) {
    wxIconBundle icons;
    icons.AddIcon(wxIcon(halvic_32_xpm));
    icons.AddIcon(wxIcon(halvic_16_xpm));
    SetIcons(icons);

    // The controls in the dialog's order, which is also the tab order. Positions and sizes
    // are in dialog units of this dialog's font.
    m_pOk = new wxButton(this, wxID_OK, "OK", wxDLG_UNIT(this, wxPoint(128, 7)),
                         wxDLG_UNIT(this, wxSize(50, 14)));
    m_pCancel = new wxButton(this, wxID_CANCEL, "Cancel", wxDLG_UNIT(this, wxPoint(128, 23)),
                             wxDLG_UNIT(this, wxSize(50, 14)));
    m_pLabel = new wxStaticText(this, wxID_ANY, "Filename", wxDLG_UNIT(this, wxPoint(7, 7)),
                                wxDLG_UNIT(this, wxSize(29, 8)), wxALIGN_LEFT | wxST_NO_AUTORESIZE);
    // In fonts wider than the one the layout was made for ("MS Sans Serif" 8 pt) the label's text
    // can need more than 29 units; it may then take the gap before the edit box (up to 33 units)
    // rather than be cut off. Its position and height stay as they are.
    int labelWidth = std::max(m_pLabel->GetSize().x, std::min(m_pLabel->GetBestSize().x,
                                                              wxDLG_UNIT(this, wxSize(33, 8)).x));
    m_pLabel->SetSize(labelWidth, m_pLabel->GetSize().y);
    // A single-line text control scrolls horizontally when its text is longer than it is wide.
    // wxTE_PROCESS_ENTER: see CompletionListShown; Enter still presses OK.
    m_pEdit =
        new wxTextCtrl(this, kIdFilename, wxString(), wxDLG_UNIT(this, wxPoint(40, 7)),
                       wxDLG_UNIT(this, wxSize(80, 14)), wxBORDER_DEFAULT | wxTE_PROCESS_ENTER,
                       wxGenericValidator(&m_strFilename));
    m_pOk->SetDefault();  // Enter means OK, also from the edit box

    SetClientSize(wxDLG_UNIT(this, wxSize(kDialogWidth, kDialogHeight)));
    CentreOnScreen();

    if (!m_pEdit->AutoCompleteFileNames()) {  // wxMSW only; elsewhere our own completer
        m_pEdit->AutoComplete(new CFileNameCompleter);
    }
    SetDropTarget(new CFileDropTarget(m_pEdit));
    m_pEdit->SetDropTarget(new CFileDropTarget(m_pEdit));

    wxGetEnv("HALVIC_GUI_REPORT", &m_strReportPath);

    Bind(wxEVT_INIT_DIALOG, &CFilenameDlg::OnInitDialog, this);
    Bind(wxEVT_CHAR_HOOK, &CFilenameDlg::OnCharHook, this);
    // Escape is handled in OnCharHook, which leaves it to the completion list while that is shown.
    // Without an escape id the dialog no longer ends at Cancel by itself; the close box still
    // cancels.
    SetEscapeId(wxID_NONE);
    m_pCancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndModal(wxID_CANCEL); });
}

void CFilenameDlg::OnInitDialog(wxInitDialogEvent& event) {
    event.Skip();  // the framework's part: the edit box gets m_strFilename
    if (m_bAgain) {
        // After the framework's part, which puts the text in the box with the cursor at its start.
        CallAfter([this] {
            m_pEdit->SetFocus();
            m_pEdit->SelectAll();
        });
        return;  // the report holds the layout of the first showing and the messages since
    }
    m_pOk->SetFocus();  // the first tab stop holds the focus when the dialog opens
    if (!m_strReportPath.empty()) WriteLayoutReport(m_strReportPath);
}

void CFilenameDlg::OnCharHook(wxKeyEvent& event) {
    int key = event.GetKeyCode();
    if (key == WXK_F1 && !event.HasAnyModifiers()) {
        ShowHelp();
        return;
    }
    if (key == WXK_ESCAPE && !CompletionListShown()) {
        EndModal(wxID_CANCEL);
        return;
    }
    if (key == WXK_RETURN && CompletionListShown()) {
        // Enter closes the list, and takes the entry chosen in it if any; with none chosen, it
        // presses OK as well, as it does with the list closed.
        CallAfter([this, typed = m_pEdit->GetValue()] {
            if (IsModal() && !CompletionListShown() && m_pEdit->GetValue() == typed)
                EmulateButtonClickIfPresent(wxID_OK);
        });
    }
    event.Skip();  // to the completion list while it is shown, else as a dialog handles keys
}

bool CFilenameDlg::CompletionListShown() const {
    // wxGTK takes wxTE_PROCESS_ENTER away from the edit box while its completion list is shown,
    // so that the list sees Enter; GTK itself tells no one that the list is open.
    return !m_pEdit->HasFlag(wxTE_PROCESS_ENTER);
}

void CFilenameDlg::ShowHelp() {
    wxMessageDialog help(this, ToDisplay(HelpText(ToFileName(wxGetCwd()))), kHelpTitle,
                         wxOK | wxICON_INFORMATION | wxCENTRE);
    help.ShowModal();
}

bool CFilenameDlg::WriteLayoutReport(const wxString& path) const {
    wxFileOutputStream file(path);
    if (!file.IsOk()) return false;
    wxTextOutputStream out(file);
    // wxDLG_UNIT multiplies x by base.x / 4 and y by base.y / 8, rounding.
    wxPoint base = ConvertDialogToPixels(wxPoint(4, 8));
    wxSize expected = ConvertDialogToPixels(wxSize(kDialogWidth, kDialogHeight));
    wxSize client = GetClientSize();
    out << "font " << GetFont().GetNativeFontInfoUserDesc() << "\n";
    out << "dlgunit_base " << base.x << " " << base.y << "\n";
    out << "dialog_du " << kDialogWidth << " " << kDialogHeight << "\n";
    out << "dialog_expected " << expected.x << " " << expected.y << "\n";
    out << "client " << client.x << " " << client.y << "\n";
    const struct {
        const char* name;
        const wxWindow* window;
    } controls[] = {{"ok", m_pOk}, {"cancel", m_pCancel}, {"label", m_pLabel}, {"edit", m_pEdit}};
    for (const auto& control : controls) {
        wxRect rect = control.window->GetRect();
        out << control.name << " " << rect.x << " " << rect.y << " " << rect.width << " "
            << rect.height << "\n";
    }
    out << "default " << (m_pOk->GetId() == wxID_OK ? "ok" : "?") << "\n";
    out.Flush();
    return file.Close();
}

}  // namespace halvic::app
