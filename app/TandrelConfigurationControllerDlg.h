// The upload window (template 102) and the About box (template 100).
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

#include "app/UploadWindowState.h"
#include "app/ui/Dialog.h"
#include "record/RunReport.h"
#include "resources/resource.h"

class CMapUploader;

class CUploaderDlg : public CDialog {
public:
    explicit CUploaderDlg(HWND hParent = nullptr);
    ~CUploaderDlg() override = default;

    // The Help command is the application's, from whichever of the program's
    // dialogs it comes; the window only says whether it takes it now.
    BOOL TakesHelp() const { return Takes(UploadWindowCommand::Help); }

    BEGIN_MSG_MAP(CUploaderDlg)
    MSG_WM_SYSCOMMAND(OnSysCommand)
    MSG_WM_DESTROY(OnDestroy)
    MSG_WM_PAINT(OnPaint)
    MSG_WM_QUERYDRAGICON(OnQueryDragIcon)
    COMMAND_BN_CLICKED(IDC_UPLOAD, OnUpload)
    MSG_WM_TIMER(OnTimer)
    COMMAND_HANDLER_EX(IDC_PORT, CBN_DROPDOWN, OnPortDropDown)
    END_MSG_MAP()

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnCancel() override;
    void OnOK() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnDestroy();
    void OnPaint();
    HICON OnQueryDragIcon();
    void OnUpload();
    void OnTimer(UINT_PTR nIDEvent);
    void OnPortDropDown();
    void SaveImageAs();

private:
    void AddAboutMenuEntry() const;
    void ReadSettings();
    void WriteSettings() const;
    void FillPortList() const;
    void ShowPort(const std::string& strName) const;
    void EndRun();
    BOOL SaveImageTo(const std::string& strPath);
    void NoteRunEnd(RunFailure cause);
    void AddToRunMessage(const std::string& strText);
    BOOL Takes(UploadWindowCommand command) const { return UploadWindowTakes(m_state, command); }

    CButton m_btnUpload;
    CProgressCtrl m_ctlProgress;
    CComboBox m_cbPort;
    std::string m_strBasestationIP;
    std::string m_strStatus;
    HICON m_hIcon;
    std::uint32_t m_nTimer;
    std::string m_strConfigFile;
    CMapUploader* m_pUploader;
    UploadWindowState m_state;
    // The run under way, as the run log will tell it: what the window knows
    // before the uploader goes (port, rate's source, start, the file saved).
    RunReport m_run;
    std::chrono::steady_clock::time_point m_runStart;
    std::time_t m_runEndTime = 0;
};

class CAboutDlg : public CDialog {
public:
    CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
    ~CAboutDlg() override = default;
};
