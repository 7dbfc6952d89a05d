// Dropping a file on the dialog puts its path into the edit box.
#pragma once

#include <wx/dnd.h>
#include <wx/textentry.h>

namespace halvic::app {

class CFileDropTarget : public wxFileDropTarget {
  public:
    explicit CFileDropTarget(wxTextEntry* pEdit) : m_pEdit(pEdit) {}

    // Takes the first of the dropped files.
    bool OnDropFiles(wxCoord x, wxCoord y, const wxArrayString& files) override;

  private:
    wxTextEntry* m_pEdit;  // owned by the dialog, which owns this target too
};

}  // namespace halvic::app
