// The end of a run against the other modal windows a person can have open:
// the About box, Save As, the end-of-run boxes and a worker's failure box.
// The upload window must stay closed to the user while any of them is up.
#include <thread>

#include "tests/app/AppTestSupport.h"

namespace {

std::vector<std::uint8_t> Image(std::size_t cb) { return std::vector<std::uint8_t>(cb, 0x5A); }

// What a person tries on the windows under a modal window: close the About
// box, press Cancel in the upload window. Neither may be reachable.
void ExpectBothWindowsHeld(HWND hDlg, HWND hAbout)
{
    EXPECT_FALSE(hDlg->bEnabled);
    EXPECT_FALSE(HeadlessClick(hAbout, IDOK));
    EXPECT_FALSE(HeadlessClick(hDlg, IDCANCEL));
    EXPECT_FALSE(hAbout->bEnded);
    EXPECT_FALSE(hDlg->bEnded);
    EXPECT_EQ(0, FakeUploader().nDeletes);
}

}  // namespace

// The timer goes on ticking under the About box, and the end of the run opens
// Save As over the About box, so that neither window under it can be closed.
TEST_F(AppTest, RunEndingUnderTheAboutBoxKeepsBothWindowsHeldUntilSaved)
{
    std::vector<std::uint8_t> image = Image(3000);
    std::string strPath = OutPath("about.qmf");
    HWND hUpload = nullptr;
    int nSaveAs = 0;
    HeadlessSetModalDriver(IDD_ABOUTBOX, [&](HWND hAbout) {
        FakeUploader().dwTotal = 3000;
        FakeUploader().dwReceived = 1000;
        ASSERT_EQ(1, HeadlessTick(hUpload));
        EXPECT_EQ(1000, Ctl(hUpload, IDC_PROGRESS)->nPos);

        HeadlessSetSaveAsHandler([&](const HeadlessSaveAsRequest& request, std::string& strOut) {
            ++nSaveAs;
            EXPECT_EQ(hAbout, request.hOwner);
            EXPECT_FALSE(hAbout->bEnabled);
            ExpectBothWindowsHeld(hUpload, hAbout);
            // A dialog loop still delivers commands to a disabled window
            // (a queued Esc): they must not close it either.
            SendMessageA(hUpload, WM_COMMAND, IDCANCEL, 0);
            EXPECT_FALSE(hUpload->bEnded);
            EXPECT_EQ(0, FakeUploader().nDeletes);
            strOut = strPath;
            return TRUE;
        });
        FakeUploaderComplete(image);
        ASSERT_EQ(1, HeadlessTick(hUpload));
        EXPECT_EQ("Completed OK", Status(hUpload));
        EXPECT_EQ(1, FakeUploader().nDeletes);
        EXPECT_TRUE(hAbout->bEnabled);
        EXPECT_TRUE(HeadlessClick(hAbout, IDOK));
    });
    RunProgram([&](HWND hDlg) {
        hUpload = hDlg;
        ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
        SendMessageA(hDlg, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        EXPECT_TRUE(hDlg->bEnabled);
        EXPECT_TRUE(HeadlessClick(hDlg, IDCANCEL));  // closable again
    });
    EXPECT_EQ(1, nSaveAs);
    EXPECT_EQ(std::string(image.begin(), image.end()), ReadWholeFile(strPath));
}

// The boxes that end a save ("Can't open file", a file error) are owned the
// same way as Save As.
TEST_F(AppTest, EndOfRunBoxesUnderTheAboutBoxHoldBothWindows)
{
    struct Case {
        const char* pszName;
        BOOL bUnwritable;
        std::string strStart;
    };
    for (const Case& c : {Case{"cant-open", TRUE, "Can't open file "}, Case{"disk-full", FALSE, "Disk full while"}}) {
        SCOPED_TRACE(c.pszName);
        HeadlessReset();
        FakeUploaderReset();
        HeadlessSetFolders(m_strRoot + "/appdata", m_strRoot + "/windows");
        std::string strPath = c.bUnwritable ? m_strRoot + "/missing/x.qmf" : OutPath(c.pszName);
        AnswerSaveAsInTurn({strPath, ""});  // then the user gives up
        if (!c.bUnwritable)
            HeadlessInjectFileError(FileOpWrite, 112);  // ERROR_DISK_FULL
        HWND hUpload = nullptr;
        int nBoxes = 0;
        HeadlessSetModalDriver(IDD_ABOUTBOX, [&](HWND hAbout) {
            HeadlessSetMessageBoxHandler([&](const HeadlessMessageBox& box) {
                ++nBoxes;
                EXPECT_EQ(0u, box.strText.find(c.strStart)) << box.strText;
                EXPECT_EQ(hAbout, box.hOwner);
                ExpectBothWindowsHeld(hUpload, hAbout);
                return IDOK;
            });
            FakeUploaderComplete(Image(100));
            ASSERT_EQ(1, HeadlessTick(hUpload));
            EXPECT_EQ(1, FakeUploader().nDeletes);
        });
        RunProgram([&](HWND hDlg) {
            hUpload = hDlg;
            ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
            SendMessageA(hDlg, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
            EXPECT_TRUE(hDlg->bEnabled);
        });
        EXPECT_EQ(1, nBoxes);
    }
}

// A worker's failure message over the About box: About is its owner, so the
// upload window cannot be reached through About's OK while the box is up.
TEST_F(AppTest, WorkerFailureBoxHoldsTheWindowsUntilDismissed)
{
    HWND hUpload = nullptr;
    HeadlessSetModalDriver(IDD_ABOUTBOX, [&](HWND hAbout) {
        std::atomic<int> nEnabledWhileUp{-1};
        HeadlessSetMessageBoxHandler([&](const HeadlessMessageBox& box) {
            EXPECT_EQ(hAbout, box.hOwner);
            nEnabledWhileUp = hAbout->bEnabled + hUpload->bEnabled;
            return IDOK;
        });
        std::thread worker([] { AppMessageBox("Failed to communicate with system"); });
        worker.join();
        EXPECT_EQ(0, nEnabledWhileUp.load());
        EXPECT_TRUE(hAbout->bEnabled);
        EXPECT_FALSE(hUpload->bEnabled);  // About is still up
    });
    RunProgram([&](HWND hDlg) {
        hUpload = hDlg;
        ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
        SendMessageA(hDlg, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        EXPECT_TRUE(hDlg->bEnabled);
    });
    EXPECT_EQ(1u, HeadlessMessageBoxes().size());
}

// A remembered name the dialog refuses is not a cancel: the image would be
// thrown away under "Completed OK".
TEST_F(AppTest, RefusedRememberedNameIsOfferedAgainWithoutIt)
{
    mkdir((m_strRoot + "/appdata/TandrelConfigurationController").c_str(), 0700);
    WriteWholeFile(ProfilePath(), "[Main]\r\nConfig_File=site|7?.qmf\r\n");
    std::string strPath = OutPath("again.qmf");
    RunProgram([&](HWND hDlg) {
        AnswerSaveAs(strPath);
        UploadImage(hDlg, Image(10));
        EXPECT_EQ("Completed OK", Status(hDlg));
    });
    ASSERT_EQ(1u, HeadlessSaveAsRequests().size());
    EXPECT_EQ("", HeadlessSaveAsRequests()[0].strInitialPath);
    EXPECT_EQ(std::string(10, '\x5A'), ReadWholeFile(strPath));
    EXPECT_NE(std::string::npos, ReadWholeFile(ProfilePath()).find("Config_File=" + strPath));
}

// The start shows its own boxes ("Unable to open serial port.") on the window's
// thread; a command their loop delivers must not close the window and delete
// the uploader that is still starting.
TEST_F(AppTest, CancelDeliveredWhileTheStartShowsItsBoxIsIgnored)
{
    RunProgram([](HWND hDlg) {
        FakeUploader().bFinishOnStart = 1;  // the port did not open
        FakeUploader().fnDuringStart = [hDlg] {
            SendMessageA(hDlg, WM_COMMAND, IDCANCEL, 0);
            EXPECT_FALSE(hDlg->bEnded);
            EXPECT_EQ(0, FakeUploader().nDeletes);
        };
        ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
        FakeUploader().fnDuringStart = nullptr;
        EXPECT_EQ(1, FakeUploader().nStarts);
        HeadlessTick(hDlg);
        EXPECT_EQ("Failed", Status(hDlg));
        EXPECT_EQ(1, FakeUploader().nDeletes);
        EXPECT_TRUE(HeadlessClick(hDlg, IDCANCEL));  // closable again
    });
}
