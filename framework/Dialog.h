// Dialogs built from templates in the program's resources.
//   CDialog  a modal dialog: creation from its template, the modal run, the default commands
#pragma once

#include <windows.h>
#include "framework/Wnd.h"

class CDialog : public CWnd {
public:
    // The template is looked up when the dialog runs. Without a parent the application's main
    // window owns the dialog, unless the dialog is the main window itself.
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    const CRuntimeClass* GetRuntimeClass() const override;
    static const CRuntimeClass* GetThisClass();

    const AFX_MSGMAP* GetMessageMap() const override;
    static const AFX_MSGMAP* GetThisMessageMap();

    // Creates the window, disables the owner, pumps messages until EndDialog or until the window
    // is destroyed, then enables the owner and destroys the window. Returns the EndDialog value,
    // or -1 when the window could not be created or was destroyed without EndDialog.
    virtual INT_PTR DoModal();

    // Adds the template's list entries to their combo boxes and performs the first
    // UpdateData(FALSE). When either fails the dialog ends with -1 and the answer is FALSE.
    virtual BOOL OnInitDialog();

    // The accept command (IDOK): takes the controls' values, then ends the dialog with IDOK.
    virtual void OnOK();
    // The cancel command (IDCANCEL: Escape, a Cancel button, the close request): ends with it.
    virtual void OnCancel();

    // Ends the modal run with the given result once the current message has been handled.
    void EndDialog(int nResult);

protected:
    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleInitDialog(HWND hWnd);
    INT_PTR Dispatch(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    void RunModalLoop();
    BOOL ExecuteDlgInit();
    void CenterWindow();

    const DLGTEMPLATE* m_lpTemplate = nullptr;
    bool m_bContinueModal = false;
    INT_PTR m_nModalResult = -1;
};
