#include "app/file_drop_target.h"

namespace halvic::app {

bool CFileDropTarget::OnDropFiles(wxCoord, wxCoord, const wxArrayString& files) {
    if (files.empty()) return false;
    m_pEdit->SetValue(files[0]);
    m_pEdit->SetInsertionPointEnd();
    return true;
}

}  // namespace halvic::app
