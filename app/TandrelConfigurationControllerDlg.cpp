#include "app/TandrelConfigurationControllerDlg.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <tuple>
#include <utility>
#include <vector>

#include "app/ui/FileDialog.h"
#include "app/services/FileStore.h"
#include "app/ui/AppPlatform.h"
#include "app/ui/WinApp.h"
#include "record/ImageCompare.h"
#include "record/RunLogLine.h"
#include "record/Sha256.h"
#include "retrieval/MapUploader.h"
#include "serial/BaudRateFile.h"

namespace {

constexpr UINT_PTR kPollTimerId = 1;
constexpr UINT kPollPeriodMs = 250;
constexpr UINT kSysCommandMask = 0xFFF0;  // the low four bits are the system's

const char kSectionMain[] = "Main";
const char kKeyConfigFile[] = "Config_File";
const char kDefaultConfigFile[] = "default.map";
const char kSectionSerial[] = "Serial_Config";
const char kKeyPort[] = "Port";
const char kKeyPortName[] = "Port_Name";
// The template's first four entries, whose index "Port" stores.
const char* const kFixedPorts[] = {"COM1", "COM2", "COM3", "COM4"};
constexpr int kFixedPortCount = 4;
const char kSectionIP[] = "IP_Config";
const char kKeyBasestationIP[] = "Basestation_IP_Address";
const char kDefaultBasestationIP[] = "192.168.1.1";

const char kSaveFilter[] = "Halvorix config files (*.qmf)|*.qmf|All Files (*.*)|*.*||";
const char kSaveDefaultExt[] = "qmf";
constexpr int kSaveAsDialogTries = 3;  // in a row

// Built by concatenation: g++ 12 warns falsely (-Wrestrict) on string::replace.
std::string Substitute(const std::string& strText, const char* pszMarker, const std::string& strValue)
{
    std::size_t nAt = strText.find(pszMarker);
    if (nAt == std::string::npos)
        return strText;
    return strText.substr(0, nAt) + strValue + strText.substr(nAt + std::char_traits<char>::length(pszMarker));
}

// Range 0..1 while the size is unknown, an empty bar; PBM_SETRANGE32 takes
// ints, and images are at most 512 KiB.
void ShowProgress(const CProgressCtrl& ctlProgress, std::uint32_t dwTotal, std::uint32_t dwReceived)
{
    if (dwTotal == 0) {
        ctlProgress.SetRange32(0, 1);
        ctlProgress.SetPos(0);
    }
    else {
        ctlProgress.SetRange32(0, static_cast<int>(dwTotal));
        ctlProgress.SetPos(static_cast<int>(dwReceived));
    }
}

std::string UpperCase(std::string strText)
{
    for (char& ch : strText)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return strText;
}

bool IsFixedPort(const std::string& strName)
{
    return std::find(std::begin(kFixedPorts), std::end(kFixedPorts), strName) != std::end(kFixedPorts);
}

// "COM9" before "COM10": the letters in front compare as text, the number
// behind them as a number (shorter digit runs first, leading zeros aside).
bool PortNameLess(const std::string& a, const std::string& b)
{
    auto split = [](const std::string& s) {
        std::size_t nDigits = s.find_last_not_of("0123456789") + 1;  // npos + 1: all digits
        std::size_t nFirst = s.find_first_not_of('0', nDigits);
        std::string strNumber = nFirst == std::string::npos ? std::string() : s.substr(nFirst);
        return std::make_tuple(s.substr(0, nDigits), strNumber.size(), strNumber, s);
    };
    return split(a) < split(b);
}

// The ports Windows lists that are not among the four fixed entries, each
// once, in numeric order.
std::vector<std::string> ExtraPorts()
{
    std::vector<std::string> names;
    for (const std::string& strListed : PlatformSerialPortNames()) {
        std::string strName = UpperCase(strListed);
        if (!strName.empty() && !IsFixedPort(strName) && std::find(names.begin(), names.end(), strName) == names.end())
            names.push_back(strName);
    }
    std::sort(names.begin(), names.end(), PortNameLess);
    return names;
}

// A remembered name without a folder (the first save, or a setting an older
// version or a person wrote) is proposed in the user's Documents: the
// working folder may be Program Files, closed to a standard user and left
// behind by the uninstall. A path keeps its folder, the last one saved into.
std::string ProposedSavePath(const std::string& strRemembered)
{
    if (strRemembered.find_first_of("\\/:") != std::string::npos)
        return strRemembered;
    return JoinPath(PlatformDocumentsFolder(), strRemembered);
}

}  // namespace

CUploaderDlg::CUploaderDlg(HWND hParent)
    : CDialog(IDD_UPLOADER_DIALOG, hParent),
      m_hIcon(AfxGetApp()->LoadIcon(IDR_MAINFRAME)),
      m_nTimer(0),
      m_pUploader(nullptr),
      m_state(UploadWindowState::Idle)
{
}

void CUploaderDlg::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_UPLOAD, m_btnUpload);
    DDX_Control(pDX, IDC_PROGRESS, m_ctlProgress);
    DDX_Control(pDX, IDC_PORT, m_cbPort);
    DDX_Text(pDX, IDC_STATUS, m_strStatus);
}

BOOL CUploaderDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    AddAboutMenuEntry();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_pUploader = nullptr;
    ReadSettings();

    m_strStatus = "Idle.";
    UpdateData();
    return TRUE;  // the focus goes to the first tab stop, Upload
}

void CUploaderDlg::AddAboutMenuEntry() const
{
    HMENU hSysMenu = GetSystemMenu(FALSE);
    if (hSysMenu == nullptr)
        return;
    std::string strAbout = AfxGetApp()->LoadString(IDS_ABOUTBOX);
    if (strAbout.empty())
        return;
    ::AppendMenuA(hSysMenu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(hSysMenu, MF_STRING, IDM_ABOUTBOX, strAbout.c_str());
}

// "Port" indexes the four fixed entries only; any other port is remembered
// by name, which older versions do not read: they show an empty field.
void CUploaderDlg::ReadSettings()
{
    CWinApp* pApp = AfxGetApp();
    m_strBasestationIP = pApp->GetProfileString(kSectionIP, kKeyBasestationIP, kDefaultBasestationIP);
    const int nPort = pApp->GetProfileInt(kSectionSerial, kKeyPort, 0);
    const std::string strPortName = pApp->GetProfileString(kSectionSerial, kKeyPortName, "");
    FillPortList();
    if (nPort >= 0 && nPort < kFixedPortCount)
        m_cbPort.SetCurSel(nPort);
    else
        ShowPort(strPortName);  // none: no entry selected and the field empty
    m_strConfigFile = pApp->GetProfileString(kSectionMain, kKeyConfigFile, kDefaultConfigFile);
}

void CUploaderDlg::WriteSettings() const
{
    CWinApp* pApp = AfxGetApp();
    const int nSelected = m_cbPort.GetCurSel();
    const bool bFixed = nSelected >= 0 && nSelected < kFixedPortCount;
    pApp->WriteProfileInt(kSectionSerial, kKeyPort, bFixed ? nSelected : -1);
    pApp->WriteProfileString(kSectionSerial, kKeyPortName, bFixed ? std::string() : m_cbPort.GetWindowText());
    pApp->WriteProfileString(kSectionMain, kKeyConfigFile, m_strConfigFile);
    pApp->WriteProfileString(kSectionIP, kKeyBasestationIP, m_strBasestationIP);
}

// The four fixed entries stay; the ports Windows lists now follow them.
// CB_INSERTSTRING keeps the order given although the list is sorted, so
// COM10 comes after COM9. The field keeps the port it showed.
void CUploaderDlg::FillPortList() const
{
    const int nSelected = m_cbPort.GetCurSel();
    const std::string strField = m_cbPort.GetWindowText();
    for (int nIndex = m_cbPort.GetCount(); nIndex-- > kFixedPortCount;)
        m_cbPort.DeleteString(nIndex);
    for (const std::string& strName : ExtraPorts())
        m_cbPort.InsertString(-1, strName);
    if (nSelected < 0 || nSelected >= kFixedPortCount)
        ShowPort(strField);
}

// Selects the entry of that name, or shows the name in the field as if typed.
void CUploaderDlg::ShowPort(const std::string& strName) const
{
    const int nIndex = strName.empty() ? CB_ERR : m_cbPort.FindStringExact(strName);
    m_cbPort.SetCurSel(nIndex);
    if (nIndex == CB_ERR)
        m_cbPort.SetWindowText(strName);
}

// Read again at each drop-down: an adapter plugged in since then shows.
void CUploaderDlg::OnPortDropDown() { FillPortList(); }

void CUploaderDlg::OnUpload()
{
    if (!Takes(UploadWindowCommand::Upload))
        return;
    m_state = UploadWindowState::Starting;

    // The combo box forces letters to upper case, so this is the port name.
    std::string strPort = m_cbPort.GetWindowText();
    m_run = RunReport();
    m_run.strPort = strPort;
    m_run.strBaudSource = BaudRateSource(ReadBaudRateFileQuietly());
    m_runStart = std::chrono::steady_clock::now();
    m_pUploader = new CMapUploader(strPort);
    m_pUploader->Start();  // shows its own message when the port is not open

    m_state = UploadWindowState::Running;
    m_nTimer = static_cast<std::uint32_t>(SetTimer(kPollTimerId, kPollPeriodMs));
    m_strStatus = "Upload in progress.";
    m_btnUpload.EnableWindow(FALSE);
    UpdateData();
}

void CUploaderDlg::OnTimer(UINT_PTR)
{
    if (Takes(UploadWindowCommand::Tick)) {
        // Acquire: the image and counters the workers wrote before raising
        // the flag are visible from here on.
        if (m_pUploader->m_bFinished.load(std::memory_order_acquire) == 0)
            ShowProgress(m_ctlProgress, m_pUploader->GetTotalSize(), m_pUploader->GetReceived());
        else
            EndRun();
    }
    SetMsgHandled(FALSE);  // and the default timer handling
}

// The order matters: no tick may arrive while Save As is open or after the
// uploader is gone, and the status changes only once Save As has closed.
void CUploaderDlg::EndRun()
{
    m_state = UploadWindowState::Ending;
    KillTimer(m_nTimer);
    m_nTimer = 0;

    // The range is set from the final size too: a run that ended before any
    // tick saw the size would otherwise be drawn against the range of the
    // previous run (or the control's 0..100), not as a full bar.
    ShowProgress(m_ctlProgress, m_pUploader->GetTotalSize(), m_pUploader->GetReceived());
    m_btnUpload.EnableWindow(TRUE);
    NoteRunEnd(m_pUploader->GetFailure());

    if (m_pUploader->Succeeded()) {
        m_strStatus = "Completed OK";
        SaveImageAs();
    }
    else {
        m_strStatus = "Failed";
    }
    UpdateData();
    WriteRunLog(m_run, kFrontEndWindow, m_runEndTime);

    // Out of the member first: the wait in the delete serves sent messages.
    delete std::exchange(m_pUploader, nullptr);  // waits for its threads and closes the port
    m_state = UploadWindowState::Idle;

    // Enter starts the next run, whatever the run's end did to the focus: it
    // left Upload when the run disabled it, and the failure box or Save As,
    // closing, handed it to the first control enabled then, Cancel. Under a
    // modal window (About) it stays there; Upload, the first control, takes
    // it back when that window closes.
    if (IsWindowEnabled())
        GotoDlgCtrl(m_btnUpload.m_hWnd);
}

// The image took minutes to fetch and goes with the uploader: a save that
// fails offers Save As again, until the image is saved or the user cancels.
// A dialog that cannot be shown at all gets a few tries, not endless boxes
// the user could never leave.
void CUploaderDlg::SaveImageAs()
{
    std::string strPath = ProposedSavePath(m_strConfigFile);
    int nDialogFailures = 0;
    while (nDialogFailures < kSaveAsDialogTries) {
        switch (SaveAsDialog(m_hWnd, kSaveFilter, kSaveDefaultExt, strPath)) {
        case SaveAsCancelled: AddToRunMessage("Save As was cancelled"); return;
        case SaveAsChosen:
            if (SaveImageTo(strPath))
                return;
            nDialogFailures = 0;
            break;
        case SaveAsFailed:  // nothing was shown: say so before the next try
            AppMessageBox(FileErrorText(FileErrorCause::generic, strPath).c_str(), MB_OK | MB_ICONSTOP);
            ++nDialogFailures;
            break;
        }
    }
    AddToRunMessage("Save As could not be shown");
}

// TRUE once the image is in strPath and remembered; otherwise the box has
// told the user why not.
BOOL CUploaderDlg::SaveImageTo(const std::string& strPath)
{
    FileErrorCause cause = FileErrorCause::none;
    // Read before the file is replaced, for the run log.
    const std::optional<bool> changed = DiffersFromFile(m_pUploader->GetData(), m_pUploader->GetReceived(), strPath);
    switch (SaveFileReplacing(strPath, m_pUploader->GetData(), m_pUploader->GetReceived(), &cause)) {
    case SaveCantOpen: {
        const std::string strText = Substitute("Can't open file %s", "%s", strPath);
        AddToRunMessage(strText);
        AppMessageBox(strText.c_str(), MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }
    case SaveFailed: {
        const std::string strText = FileErrorText(cause, strPath);
        AddToRunMessage(strText);
        AppMessageBox(strText.c_str(), MB_OK | MB_ICONSTOP);
        return FALSE;
    }
    case SaveOk: break;
    }
    m_run.bSaved = TRUE;
    m_run.strOutput = strPath;
    m_run.changed = changed;
    m_run.strMessage.clear();  // the boxes before it are history
    m_strConfigFile = strPath;
    AfxGetApp()->WriteProfileString(kSectionMain, kKeyConfigFile, m_strConfigFile);
    return TRUE;
}

// The run's line in the user's run log, for support: the uploader's counts
// and the time, taken as the run ends (not once Save As has closed), with
// what the window kept. The save then adds where the image went, or why it
// went nowhere. A log that cannot be written costs the run nothing, and is
// not worth a box.
void CUploaderDlg::NoteRunEnd(RunFailure cause)
{
    CMapUploader& uploader = *m_pUploader;
    m_runEndTime = std::time(nullptr);
    m_run.nFailure = cause;
    m_run.dwBaud = uploader.GetBaudRate();
    m_run.dwBytes = uploader.GetReceived();
    m_run.dSeconds = m_run.dAttemptSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_runStart).count();
    m_run.dwAttempts = 1;
    AddAttemptCounts(&m_run, uploader.GetLinkCounts());
    if (cause == RunFailure::none) {
        m_run.strSha256 = Sha256Hex(uploader.GetData(), uploader.GetReceived());
    }
    else {
        m_run.strMessage = FailureMessage(cause, cause == RunFailure::interrupted ? "" : uploader.GetFailureDetail());
        m_run.attemptErrors.push_back(cause);
    }
}

// Why a retrieved image was not saved, sentence by sentence: each failed
// save's box, then how the saving ended.
void CUploaderDlg::AddToRunMessage(const std::string& strText)
{
    std::string& strMessage = m_run.strMessage;
    if (!strMessage.empty())
        strMessage += strMessage.back() == '.' ? " " : ". ";
    strMessage += strText;
}

void CUploaderDlg::OnCancel()
{
    if (!Takes(UploadWindowCommand::Close))
        return;
    m_state = UploadWindowState::Closing;
    WriteSettings();
    if (m_pUploader != nullptr) {
        KillTimer(m_nTimer);
        m_nTimer = 0;
        NoteRunEnd(RunFailure::interrupted);
        WriteRunLog(m_run, kFrontEndWindow, m_runEndTime);
        // Out of the member first: the wait in the delete serves sent
        // messages, and none of them may reach this uploader again.
        delete std::exchange(m_pUploader, nullptr);  // abandons the run: its threads stop, the port closes
    }
    CDialog::OnCancel();
}

// The window has no OK button, so an IDOK (sent by another program) is no
// request to leave: ending the dialog on it would skip the settings and
// abandon a running uploader with its port and threads.
void CUploaderDlg::OnOK() {}

void CUploaderDlg::OnSysCommand(UINT nID, LPARAM)
{
    if ((nID & kSysCommandMask) == IDM_ABOUTBOX) {
        if (Takes(UploadWindowCommand::About)) {
            CAboutDlg dlgAbout;
            dlgAbout.DoModal();
        }
    }
    else {
        SetMsgHandled(FALSE);  // move, close and the rest: the system's
    }
}

void CUploaderDlg::OnPaint()
{
    if (!IsIconic()) {
        SetMsgHandled(FALSE);
        return;
    }
    CPaintDC dc(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
    int cxIcon = ::GetSystemMetrics(SM_CXICON);
    int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    int x = (rect.right - rect.left - cxIcon + 1) / 2;
    int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HICON CUploaderDlg::OnQueryDragIcon() { return m_hIcon; }

void CUploaderDlg::OnDestroy()
{
    AfxGetApp()->WinHelp(0, HELP_QUIT);
    SetMsgHandled(FALSE);
}
