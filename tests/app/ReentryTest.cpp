// Every command, delivered at every message loop the upload window can run.
// Boxes, Save As, About and the wait while an uploader is deleted all deliver
// the window's messages: posted ones in their loops (also to the disabled
// window), sent ones (from another thread or program) even in the wait. Each
// row runs the program once and checks what must hold whatever arrives: at
// most one uploader at a time and none left over (ASan/LSan see the rest),
// nothing read through a deleted uploader, the window ending only from Idle
// or Running, and the retrieved image saved unless the user cancelled Save As.
#include <future>
#include <thread>

#include "retrieval/MapUploader.h"
#include "tests/app/AppTestSupport.h"

namespace {

enum class Loop {
    StartBuildBox,     // a box while the uploader is built ("... Using Defaults")
    StartBox,          // "Unable to open serial port." from Start
    SaveAs,            // the end of a successful run
    CantOpenBox,       // "Can't open file ..."
    FileErrorBox,      // a write that fails
    DialogFailBox,     // the box when Save As cannot be shown
    WorkerBox,         // the worker's "Failed to communicate with system"
    EndDeleteWait,     // the uploader deleted at the end of a run
    CancelDeleteWait,  // the uploader deleted by Cancel
    AboutBox,          // About opened during a run
};

enum class Command {
    UploadPosted,
    CancelPosted,
    EscPosted,
    IdCancelSent,
    BmClickSent,
    AboutSent,
    HelpSent,
    HelpCodeOneSent,  // the Help command with a notification code other than BN_CLICKED
    CloseSent,
    OkSent,
    TickSent
};

const char* const kLoopNames[] = {"StartBuildBox", "StartBox",  "SaveAs",        "CantOpenBox",      "FileErrorBox",
                                  "DialogFailBox", "WorkerBox", "EndDeleteWait", "CancelDeleteWait", "AboutBox"};
const char* const kCommandNames[] = {"UploadPosted", "CancelPosted", "EscPosted", "IdCancelSent",
                                     "BmClickSent",  "AboutSent",    "HelpSent",  "HelpCodeOneSent",
                                     "CloseSent",    "OkSent",       "TickSent"};

const Loop kLoops[] = {Loop::StartBuildBox,    Loop::StartBox,      Loop::SaveAs,    Loop::CantOpenBox,
                       Loop::FileErrorBox,     Loop::DialogFailBox, Loop::WorkerBox, Loop::EndDeleteWait,
                       Loop::CancelDeleteWait, Loop::AboutBox};
const Command kCommands[] = {Command::UploadPosted, Command::CancelPosted, Command::EscPosted, Command::IdCancelSent,
                             Command::BmClickSent,  Command::AboutSent,    Command::HelpSent,  Command::HelpCodeOneSent,
                             Command::CloseSent,    Command::OkSent,       Command::TickSent};

WPARAM Clicked(int nID) { return static_cast<WPARAM>(nID) | (static_cast<WPARAM>(BN_CLICKED) << 16); }
LPARAM Handle(HWND hWnd) { return reinterpret_cast<LPARAM>(hWnd); }

// bLoopRuns: a modal loop is spinning, so a posted message arrives now;
// in the wait for a worker it stays queued for a later loop.
void Deliver(HWND hDlg, Command command, BOOL bLoopRuns)
{
    HWND hCancel = HeadlessControl(hDlg, IDCANCEL);
    switch (command) {
    case Command::UploadPosted:
        HeadlessPostMessage(hDlg, WM_COMMAND, Clicked(IDC_UPLOAD), Handle(HeadlessControl(hDlg, IDC_UPLOAD)));
        break;
    case Command::CancelPosted: HeadlessPostMessage(hDlg, WM_COMMAND, Clicked(IDCANCEL), Handle(hCancel)); break;
    case Command::EscPosted: HeadlessPostMessage(hDlg, WM_COMMAND, IDCANCEL, 0); break;
    case Command::IdCancelSent: SendMessageA(hDlg, WM_COMMAND, IDCANCEL, 0); break;
    case Command::BmClickSent: SendMessageA(hCancel, BM_CLICK, 0, 0); break;
    case Command::AboutSent: SendMessageA(hDlg, WM_SYSCOMMAND, IDM_ABOUTBOX, 0); break;
    case Command::HelpSent: SendMessageA(hDlg, WM_COMMAND, ID_HELP, 0); break;
    case Command::HelpCodeOneSent: SendMessageA(hDlg, WM_COMMAND, ID_HELP | (static_cast<WPARAM>(1) << 16), 0); break;
    case Command::CloseSent: SendMessageA(hDlg, WM_CLOSE, 0, 0); break;
    case Command::OkSent: SendMessageA(hDlg, WM_COMMAND, IDOK, 0); break;
    case Command::TickSent: SendMessageA(hDlg, WM_TIMER, 1, 0); break;
    }
    if (bLoopRuns)
        HeadlessDeliverPosted();
}

class ReentryTest : public AppTest, public ::testing::WithParamInterface<std::tuple<Loop, Command>> {
protected:
    Loop TheLoop() const { return std::get<0>(GetParam()); }
    Command TheCommand() const { return std::get<1>(GetParam()); }

    // The command, once, at the loop under test. Only Idle and Running may end
    // the window; the worker's box and About are up while it runs.
    void Fire(BOOL bLoopRuns)
    {
        if (m_bFired)
            return;
        m_bFired = TRUE;
        const std::size_t nHelpCalls = HeadlessHelpCalls().size();
        Deliver(m_hDlg, TheCommand(), bLoopRuns);
        // Help is the window's to take or drop, whatever route it came by:
        // only while a person can act in the window (a run's boxes aside).
        const BOOL bHelp = TheCommand() == Command::HelpSent || TheCommand() == Command::HelpCodeOneSent;
        const BOOL bWindowTakesHelp = TheLoop() == Loop::WorkerBox || TheLoop() == Loop::AboutBox;
        EXPECT_EQ(bHelp && bWindowTakesHelp, HeadlessHelpCalls().size() > nHelpCalls) << "help opened";
        if (TheLoop() != Loop::WorkerBox && TheLoop() != Loop::AboutBox) {
            EXPECT_FALSE(m_hDlg->bEnded) << "the window ended in a run's start, end or close";
        }
    }

    void FireAtBox(const char* pszText)
    {
        HeadlessSetMessageBoxHandler([this, pszText](const HeadlessMessageBox& box) {
            if (box.strText.find(pszText) != std::string::npos)
                Fire(TRUE);
            return IDOK;
        });
    }

    // Save As: the loop under test at its first opening, then the answer
    // strFirst once and the good path after it.
    void AnswerSaveAsWith(const std::string& strFirst, BOOL bFireInside)
    {
        HeadlessSetSaveAsHandler([this, strFirst, bFireInside](const HeadlessSaveAsRequest&, std::string& strOut) {
            if (bFireInside)
                Fire(TRUE);
            strOut = m_nSaveAs++ == 0 ? strFirst : m_strGood;
            return TRUE;
        });
    }

    // A second About (the command About) is closed by the user; its loop
    // delivers an Esc that was typed ahead.
    void ArmAbout()
    {
        HeadlessSetModalDriver(IDD_ABOUTBOX, [this](HWND hAbout) {
            if (TheLoop() == Loop::AboutBox && !m_bFired) {
                Fire(TRUE);
                return;
            }
            HeadlessPostMessage(m_hDlg, WM_COMMAND, IDCANCEL, 0);
            HeadlessDeliverPosted();
            HeadlessClick(hAbout, IDOK);
        });
    }

    void ArmLoop();
    void ShowWorkerBox();
    void RunToTheEnd();

    HWND m_hDlg = nullptr;
    BOOL m_bFired = FALSE;
    int m_nSaveAs = 0;
    std::string m_strGood;
    std::vector<std::uint8_t> m_image = std::vector<std::uint8_t>(700, 0xA5);
};

void ReentryTest::ArmLoop()
{
    AnswerSaveAsWith(m_strGood, FALSE);
    switch (TheLoop()) {
    case Loop::StartBuildBox:
        FakeUploader().fnDuringConstruct = [] { AppMessageBox("BaudRate 1234 Not Supported, Using Defaults"); };
        FireAtBox("Using Defaults");
        break;
    case Loop::StartBox:
        FakeUploader().bFinishOnStart = 1;
        FakeUploader().fnDuringStart = [] { AppMessageBox("Unable to open serial port."); };
        FireAtBox("Unable to open serial port.");
        break;
    case Loop::SaveAs: AnswerSaveAsWith(m_strGood, TRUE); break;
    case Loop::CantOpenBox:
        AnswerSaveAsWith(m_strRoot + "/missing/x.qmf", FALSE);
        FireAtBox("Can't open file");
        break;
    case Loop::FileErrorBox:
        HeadlessInjectFileError(FileOpWrite, 112);  // ERROR_DISK_FULL
        AnswerSaveAsWith(m_strGood, FALSE);
        FireAtBox("Disk full");
        break;
    case Loop::DialogFailBox:
        HeadlessFailSaveAs(2, 0xFFFF);  // CDERR_DIALOGFAILURE, with the name and without it
        FireAtBox("An unknown error occurred");
        break;
    default: break;
    }
}

// The worker's box is up on its own thread while the window's own loop goes
// on delivering.
void ReentryTest::ShowWorkerBox()
{
    std::promise<void> up, answered;
    std::shared_future<void> answer = answered.get_future().share();
    HeadlessSetMessageBoxHandler([&up, answer](const HeadlessMessageBox& box) {
        if (box.strText != "Failed to communicate with system")
            return IDOK;  // one the command brought up
        up.set_value();
        answer.wait();
        return IDOK;
    });
    std::thread worker([] { AppMessageBox("Failed to communicate with system"); });
    up.get_future().wait();
    Fire(TRUE);
    answered.set_value();
    worker.join();
}

// A person's part: finish a run that is still going.
void ReentryTest::RunToTheEnd()
{
    for (int nTicks = 0; !m_hDlg->bEnded && FakeUploader().pLive != nullptr && nTicks < 3; ++nTicks) {
        if (TheLoop() == Loop::EndDeleteWait)
            FakeUploader().fnDuringDelete = [this] { Fire(FALSE); };
        if (!FakeUploader().pLive->m_bFinished.load())
            FakeUploaderComplete(m_image);
        HeadlessTick(m_hDlg);
    }
}

}  // namespace

TEST_P(ReentryTest, EveryCommandAtEveryLoopLeavesTheWindowSound)
{
    m_strGood = OutPath("image.qmf");
    WriteBesideProgram("TandrelConfigurationController.chm");  // so that an opened help shows
    ArmAbout();
    RunProgram([this](HWND hDlg) {
        m_hDlg = hDlg;
        ArmLoop();
        ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
        HeadlessTick(hDlg);
        if (TheLoop() == Loop::WorkerBox && !hDlg->bEnded)
            ShowWorkerBox();
        if (TheLoop() == Loop::AboutBox && !hDlg->bEnded)
            SendMessageA(hDlg, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        if (TheLoop() == Loop::CancelDeleteWait && !hDlg->bEnded) {
            FakeUploader().fnDuringDelete = [this] { Fire(FALSE); };
            HeadlessClick(hDlg, IDCANCEL);
        }
        RunToTheEnd();
    });
    EXPECT_TRUE(m_bFired) << "the loop under test never ran";
    EXPECT_LE(FakeUploader().nMaxLive, 1) << "a second uploader inside the first";
    EXPECT_EQ(FakeUploader().nConstructs, FakeUploader().nDeletes) << "an uploader leaked or deleted twice";
    // The harness never cancels Save As.
    if (!HeadlessSaveAsRequests().empty()) {
        EXPECT_TRUE(ReadWholeFile(m_strGood) == std::string(m_image.begin(), m_image.end())) << "the image was lost";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ReentryTest,
                         ::testing::Combine(::testing::ValuesIn(kLoops), ::testing::ValuesIn(kCommands)),
                         [](const ::testing::TestParamInfo<std::tuple<Loop, Command>>& info) {
                             return std::string(kLoopNames[static_cast<int>(std::get<0>(info.param))]) + "_" +
                                    kCommandNames[static_cast<int>(std::get<1>(info.param))];
                         });
