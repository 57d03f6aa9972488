// The control panel.
//   CKelvaneDlg           the panel dialog: fields and their controls, the event table, the
//                         enabling rules (panel/), the command transaction and the monitor
//                         operations (protocol/), connecting and closing (panel/Connection.cpp)
//   g_bConnected          1 while a connection is up
//   MinimizedIconOrigin   where the minimised panel draws its icon
#pragma once

#include <windows.h>
#include <string>
#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "protocol/CommandFrame.h"
#include "protocol/Transaction.h"
#include "serial/SerialChannel.h"

class CKelvaneDlgAutoProxy;

extern BYTE g_bConnected;

class CKelvaneDlg : public CDialog {
public:
    explicit CKelvaneDlg(CWnd* pParent = nullptr);

    const CRuntimeClass* GetRuntimeClass() const override;
    static const CRuntimeClass* GetThisClass();
    // Tells an automation object that still holds the panel that the panel is gone. Closes no
    // port: the connection operations have done that.
    ~CKelvaneDlg() override;

    const AFX_MSGMAP* GetMessageMap() const override;
    static const AFX_MSGMAP* GetThisMessageMap();

    // Enables the ten operation buttons, or disables them while diagnostic mode runs; HDMI 3
    // and VGA stay disabled whenever the model list shows the PX-400.
    void EnableControls(BOOL diagnosticRunning);

    // The command transaction, through the protocol core: drains the line, sends the frame, waits,
    // reads the data bytes (three when bReadData, six for an "FV" command) into g_reply and then
    // the acknowledge. Without a connection it sends nothing: CMD_LINK_ERROR.
    CommandResult SendCommand(BOOL bReadData, CommandFrame frame);
    // Empties the transmit queue and drains the line; the drain's outcome is not reported.
    void ResetTx();
    // Queues len bytes; 1 queued, 0 refused because they would run past the queue.
    int AppendTx(const BYTE* src, BYTE len);
    // Writes the queue byte by byte and empties it; 1 all written, 0 a write failed.
    int FlushTx();
    // Zeroes the six bytes an answer can fill.
    void ClearReply();

    // The status queries; each does nothing without a connection.
    BOOL CheckUnitId();
    void CheckCurrentSource();
    void CheckSignalStatus();
    void CheckFirmwareVersion();
    // Switches the monitor's input: 0 HDMI 1, 1 HDMI 2, 2 HDMI 3, 3 VGA.
    void ChangeSource(BYTE source);
    void DefaultSetting();
    void DiagnosticMode();

    // Connects to the monitor on the selected port, or ends the connection when the Connect
    // button's caption says "Disconnect".
    void OnConnect();
    // Closes the port and resets the panel; the only way out of diagnostic mode's lockout.
    void Disconnect();
    // Whether the panel may close. Never while an operation runs; while an automation client
    // holds it, it hides instead and the connection stays up; otherwise a connection is drained
    // and closed first.
    BOOL CanExit();

    CSerialChannel m_serial;
    CComboBox m_cbModel;
    CComboBox m_cbComPort;
    CButton m_btnConnect;
    int m_nUnitId;
    int m_nSource; // -1 none, 0 HDMI 1, 1 HDMI 2, 2 HDMI 3, 3 VGA
    std::wstring m_strSignal;
    std::wstring m_strFirmware;
    std::wstring m_strUnitId;
    std::wstring m_strStatus;
    CKelvaneDlgAutoProxy* m_pAutoProxy;
    HICON m_hIcon;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // The accept command (Enter) and the cancel command (Exit, Escape, the close button) end the
    // panel only when CanExit lets them.
    void OnOK() override;
    void OnCancel() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnClose();
    void OnSelchangeModel();

private:
    // Runs the operation behind a button unless one is already running. The serial channel's
    // boxes have no owner, so the panel still takes clicks under them; a second operation
    // started there would work the port of the first.
    template <auto Operation, auto... Args>
    void RunOperation();
    // A row of the event table for a button that runs its operation through RunOperation.
    template <auto Operation, auto... Args>
    static constexpr AFX_MSGMAP_ENTRY OnOperation(UINT id);

    // The address character of the frames for the monitor: "0" plus m_nUnitId.
    char Address() const { return AddressOf(m_nUnitId); }
    // A modal box owned by the panel, captioned "Error", with the stop icon.
    void ShowError(const wchar_t* text);
    // Reports a link error or a failed write of a status query (the latter also disconnects);
    // false when the monitor answered.
    bool ReportFailedQuery(CommandResult result);
    // Shows what the signal query read, or reports its failure.
    void ShowSignal(const SignalReading& reading);
    // The status query for the query, as its button runs it.
    void RunQuery(Query query);

    // m_serial as the protocol core's line, and the core over it.
    SerialLine m_line{*this};
    PanelProtocol m_protocol{m_line};
    bool m_bOperationRunning = false;
};

// The top-left corner that centres an icon in a client area; halves truncate toward zero, so a
// 32 x 32 icon sits at 2, 2 in 36 x 36 and at -15, -15 in 0 x 0.
POINT MinimizedIconOrigin(const RECT& client, int cxIcon, int cyIcon);
