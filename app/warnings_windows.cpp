#include "app/warnings_windows.h"

// After windows.h:
#include <commdlg.h>

#include <algorithm>

#include "app/dialog_resources.h"
#include "app/gui_report.h"
#include "engine/io/windows_text.h"

namespace halvic::app {

namespace {

struct CWarningsState {
    std::string m_strSummary;  // the box's text: the count, the first few, the folder
    std::string m_strDetails;  // every warning, a line each
    std::string m_strFolder;
    int m_nCollapsedHeight = 0;  // the dialog's client height without the list, and with it
    int m_nExpandedHeight = 0;
};

// Windows' own line ends, for the edit box, the clipboard and the saved file.
std::wstring WindowsLines(const std::string& text) {
    std::string lines;
    for (char c : text)
        lines += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return Utf16(lines);
}

RECT Units(HWND dialog, int left, int top, int right, int bottom) {
    RECT rect{left, top, right, bottom};
    ::MapDialogRect(dialog, &rect);
    return rect;
}

void SetClientHeight(HWND dialog, int height) {
    RECT client;
    ::GetClientRect(dialog, &client);
    RECT frame{0, 0, client.right, height};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
    ::SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Centres the dialog on its screen's work area, or only moves it up when it reaches past the
// bottom.
void PlaceOnScreen(HWND dialog, bool centre) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!::GetMonitorInfoW(::MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor)) return;
    const RECT& area = monitor.rcWork;
    RECT window;
    ::GetWindowRect(dialog, &window);
    const int width = window.right - window.left, height = window.bottom - window.top;
    int x = window.left, y = window.top;
    if (centre) {
        x = area.left + (area.right - area.left - width) / 2;
        y = area.top + (area.bottom - area.top - height) / 2;
    } else if (window.bottom > area.bottom) {
        y = area.bottom - height;
    }
    ::SetWindowPos(dialog, nullptr, x, std::max<int>(y, area.top), 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MoveControl(HWND dialog, int id, int x, int y) {
    ::SetWindowPos(::GetDlgItem(dialog, id), nullptr, x, y, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int ControlLeft(HWND dialog, int id) {
    RECT rect;
    ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect.left;
}

// The text's height decides where the buttons and the list go; the template's places are for
// one line of text.
void Layout(HWND dialog, CWarningsState& state) {
    HWND text = ::GetDlgItem(dialog, IDC_WARNINGS_TEXT);
    RECT bounds;
    ::GetWindowRect(text, &bounds);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&bounds), 2);
    std::wstring summary = WindowsLines(state.m_strSummary);
    RECT needed{0, 0, bounds.right - bounds.left, 0};
    HDC dc = ::GetDC(text);
    HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0)));
    ::DrawTextW(dc, summary.c_str(), static_cast<int>(summary.size()), &needed,
                DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
    ::SelectObject(dc, old);
    ::ReleaseDC(text, dc);
    ::SetWindowPos(text, nullptr, 0, 0, bounds.right - bounds.left, needed.bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowTextW(text, summary.c_str());

    const RECT icon = Units(dialog, 7, 7, 28, 27);
    const RECT gap = Units(dialog, 0, 0, 7, 7);
    const RECT button = Units(dialog, 0, 0, 50, 14);
    const RECT list = Units(dialog, 0, 0, 0, 120);
    const int buttons = std::max<int>(bounds.top + needed.bottom, icon.bottom) + gap.bottom;
    for (int id : {IDC_DETAILS, IDC_COPY, IDC_SAVE, IDOK})
        MoveControl(dialog, id, ControlLeft(dialog, id), buttons);
    const int listTop = buttons + button.bottom + gap.bottom;
    MoveControl(dialog, IDC_DETAILS_LIST, gap.right, listTop);
    HWND edit = ::GetDlgItem(dialog, IDC_DETAILS_LIST);
    RECT editRect;
    ::GetWindowRect(edit, &editRect);
    ::SetWindowPos(edit, nullptr, 0, 0, editRect.right - editRect.left, list.bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    state.m_nCollapsedHeight = listTop;
    state.m_nExpandedHeight = listTop + list.bottom + gap.bottom;
    SetClientHeight(dialog, state.m_nCollapsedHeight);
    PlaceOnScreen(dialog, true);  // the template's size was centred, not this one
}

void ToggleDetails(HWND dialog, const CWarningsState& state) {
    HWND list = ::GetDlgItem(dialog, IDC_DETAILS_LIST);
    const bool show = !::IsWindowVisible(list);
    SetClientHeight(dialog, show ? state.m_nExpandedHeight : state.m_nCollapsedHeight);
    ::ShowWindow(list, show ? SW_SHOW : SW_HIDE);
    ::SetDlgItemTextW(dialog, IDC_DETAILS, show ? L"Hide &details" : L"&Details");
    if (show) Report("details", state.m_strDetails.substr(0, state.m_strDetails.size() - 1));
    if (show) PlaceOnScreen(dialog, false);
}

bool CopyToClipboard(HWND dialog, const std::wstring& text) {
    if (!::OpenClipboard(dialog)) return false;
    bool copied = false;
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        if (void* target = ::GlobalLock(memory)) {
            std::copy_n(text.c_str(), text.size() + 1, static_cast<wchar_t*>(target));
            ::GlobalUnlock(memory);
            copied = ::EmptyClipboard() && ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        }
        if (!copied) ::GlobalFree(memory);  // on success the clipboard owns it
    }
    ::CloseClipboard();
    return copied;
}

void Save(HWND dialog, const CWarningsState& state) {
    std::wstring path = Utf16(kWarningsFileName);
    path.resize(32768);
    const std::wstring folder = Utf16(state.m_strFolder);
    const std::wstring title = Utf16(kSaveWarningsTitle);
    OPENFILENAMEW file{};
    file.lStructSize = sizeof file;
    file.hwndOwner = dialog;
    file.lpstrFilter = L"Text files (*.txt)\0*.txt\0All files\0*.*\0";
    file.lpstrFile = path.data();
    file.nMaxFile = static_cast<DWORD>(path.size());
    file.lpstrInitialDir = folder.c_str();
    file.lpstrTitle = title.c_str();
    file.lpstrDefExt = L"txt";
    file.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER;
    if (!::GetSaveFileNameW(&file)) return;
    path.resize(path.find(L'\0'));
    std::string lines;
    for (char c : state.m_strDetails)
        lines += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string message;
    if (!SaveTextFile(Utf8(path), lines, message)) {
        Report("message", message);
        ::MessageBoxW(dialog, Utf16(message).c_str(), Utf16(kNotSavedTitle).c_str(),
                      MB_OK | MB_ICONERROR);
        return;
    }
    Report("saved", Utf8(path));
}

INT_PTR CALLBACK WarningsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<CWarningsState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG: {
            ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            state = reinterpret_cast<CWarningsState*>(lParam);
            ::SendDlgItemMessageW(dialog, IDC_WARNINGS_ICON, STM_SETICON,
                                  reinterpret_cast<WPARAM>(
                                      ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_WARNING))),
                                  0);
            ::SetDlgItemTextW(dialog, IDC_DETAILS_LIST, WindowsLines(state->m_strDetails).c_str());
            Layout(dialog, *state);
            ::SetFocus(::GetDlgItem(dialog, IDOK));
            return FALSE;  // the focus has been set
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_DETAILS:
                    ToggleDetails(dialog, *state);
                    return TRUE;
                case IDC_COPY:
                    if (CopyToClipboard(dialog, WindowsLines(state->m_strDetails))) {
                        Report("copied", "");
                    } else {
                        ::MessageBoxW(dialog, Utf16(kNoClipboardMessage).c_str(),
                                      Utf16(kNotCopiedTitle).c_str(), MB_OK | MB_ICONERROR);
                    }
                    return TRUE;
                case IDC_SAVE:
                    Save(dialog, *state);
                    return TRUE;
                case IDOK:
                case IDCANCEL:  // Escape and the close box
                    ::EndDialog(dialog, IDOK);
                    return TRUE;
            }
            break;
    }
    return FALSE;
}

}  // namespace

void ShowWarnings(HINSTANCE instance, const std::vector<CWarning>& warnings,
                  const std::string& folder) {
    CWarningsState state{WarningsText(warnings, folder), DetailsText(warnings), folder};
    Report("warnings", state.m_strSummary);
    ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_WARNINGS), nullptr, WarningsProc,
                      reinterpret_cast<LPARAM>(&state));
}

}  // namespace halvic::app
