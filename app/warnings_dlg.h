// CWarningsDlg: the box shown after a conversion with warnings. It says how many there were, shows
// the first few and where the files went; "Details" opens the list of every warning, which "Copy"
// puts on the clipboard and "Save..." writes to a text file.
#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/textctrl.h>

#include <string>
#include <vector>

#include "app/typed_name.h"

namespace halvic::app {

class CWarningsDlg : public wxDialog {
  public:
    // `folder`: where the files were written, and where "Save..." offers to save the list.
    CWarningsDlg(const std::vector<CWarning>& warnings, const std::string& folder);

  private:
    void ToggleDetails();
    void CopyDetails();
    void SaveDetails();

    std::string m_strDetails;  // every warning, a line each
    std::string m_strFolder;
    wxTextCtrl* m_pList = nullptr;  // the details: selectable, scrolled, hidden at first
    wxButton* m_pDetails = nullptr;
};

}  // namespace halvic::app
