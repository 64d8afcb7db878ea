// Start-up, the About box, help, painting and message boxes.
#include <thread>

#include "tests/app/AppTestSupport.h"

TEST_F(AppTest, SocketsStartedAtVersion11AndReleasedAtExit)
{
    int nOpened = 0;
    RunProgram([&](HWND) { ++nOpened; });
    EXPECT_EQ(1, nOpened);
    EXPECT_EQ(1, HeadlessSocketsStartups());
    EXPECT_EQ(1, HeadlessSocketsCleanups());
}

TEST_F(AppTest, SocketsUnavailableEndsTheProgramWithoutAWindow)
{
    struct Case {
        BOOL bStartOk;
        WORD wGranted;
        int nCleanups;  // a started layer of the wrong version is shut down again
    };
    for (const Case& c : {Case{FALSE, 0, 0}, Case{TRUE, MAKEWORD(2, 2), 1}, Case{TRUE, MAKEWORD(1, 0), 1}}) {
        SCOPED_TRACE(c.wGranted);
        HeadlessReset();
        HeadlessSetFolders(m_strRoot + "/appdata", m_strRoot + "/windows");
        HeadlessSetSockets(c.bStartOk, c.wGranted);
        int nOpened = 0;
        RunProgram([&](HWND) { ++nOpened; });
        EXPECT_EQ(0, nOpened);
        EXPECT_EQ(c.nCleanups, HeadlessSocketsCleanups());
        ASSERT_EQ(1u, HeadlessMessageBoxes().size());
        EXPECT_EQ("Windows sockets initialization failed.", HeadlessMessageBoxes()[0].strText);
        EXPECT_EQ(MB_OK | MB_ICONEXCLAMATION, HeadlessMessageBoxes()[0].uType);
        EXPECT_TRUE(HeadlessProfileLog().empty());
    }
}

TEST_F(AppTest, NamesFollowTheExecutable)
{
    HeadlessSetModulePath(m_strRoot + "/bin/Renamed.exe");
    RunProgram([](HWND) { AppMessageBox("hello"); });
    EXPECT_EQ("Renamed", HeadlessMessageBoxes().at(0).strCaption);
    EXPECT_EQ(m_strRoot + "/bin/Renamed.HLP", HeadlessHelpCalls().at(0).strPath);
    EXPECT_NE("", ReadWholeFile(m_strRoot + "/appdata/TandrelConfigurationController/Renamed.INI"));
}

TEST_F(AppTest, AboutBoxFromTheMaskedSystemCommand)
{
    int nAboutOpened = 0;
    HeadlessSetModalDriver(IDD_ABOUTBOX, [&](HWND hAbout) {
        ++nAboutOpened;
        HWND hOwner = hAbout->pParent;
        ASSERT_NE(nullptr, hOwner);
        EXPECT_EQ(static_cast<UINT>(IDD_UPLOADER_DIALOG), hOwner->nTemplate);
        EXPECT_FALSE(hOwner->bEnabled);  // modal over the upload window
        ASSERT_TRUE(HeadlessClick(hAbout, IDOK));
    });
    RunProgram([&](HWND hDlg) {
        SendMessageA(hDlg, WM_SYSCOMMAND, IDM_ABOUTBOX | 0x0003, 0);
        EXPECT_EQ(1, nAboutOpened);
        EXPECT_TRUE(hDlg->bEnabled);
        EXPECT_EQ("Idle.", Status(hDlg));
        hDlg->unhandled.clear();
        SendMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(1, nAboutOpened);
        EXPECT_EQ(std::vector<UINT>{WM_SYSCOMMAND}, hDlg->unhandled);  // to the system
    });
}

TEST_F(AppTest, HelpTopicsAndQuitOnDestroy)
{
    const std::string strHelp = m_strRoot + "/bin/TandrelConfigurationController.HLP";
    HeadlessSetModalDriver(IDD_ABOUTBOX, [](HWND hAbout) { HeadlessPressKey(hAbout, VK_F1); });
    RunProgram([](HWND hDlg) {
        HeadlessPressKey(hDlg, VK_F1);
        ASSERT_TRUE(HeadlessClick(hDlg, ID_HELP));
        HeadlessPressKey(hDlg, VK_F1, TRUE, FALSE, FALSE);
        HeadlessPressKey(hDlg, VK_F1, FALSE, TRUE, FALSE);
        HeadlessPressKey(hDlg, VK_F1, FALSE, FALSE, TRUE);
        SendMessageA(hDlg, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    });
    std::vector<HeadlessHelpCall> calls = HeadlessHelpCalls();
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ(HELP_CONTEXT, calls[0].uCommand);
    EXPECT_EQ(131174u, calls[0].dwData);
    EXPECT_EQ(131174u, calls[1].dwData);
    EXPECT_EQ(131172u, calls[2].dwData);  // F1 in the About box
    EXPECT_EQ(HELP_QUIT, calls[3].uCommand);
    EXPECT_EQ(0u, calls[3].dwData);
    for (const HeadlessHelpCall& call : calls)
        EXPECT_EQ(strHelp, call.strPath);
    EXPECT_TRUE(HeadlessMessageBoxes().empty());
}

TEST_F(AppTest, HelpThatCannotStartIsReported)
{
    HeadlessSetHelpResult(FALSE);
    RunProgram([](HWND hDlg) { ASSERT_TRUE(HeadlessClick(hDlg, ID_HELP)); });
    // The Help button, then the quit request on destruction.
    ASSERT_EQ(2u, HeadlessMessageBoxes().size());
    for (const HeadlessMessageBox& box : HeadlessMessageBoxes()) {
        EXPECT_EQ("Failed to launch help.", box.strText);
        EXPECT_EQ(MB_ICONEXCLAMATION, box.uType & MB_ICONMASK);
    }
}

TEST_F(AppTest, MinimisedWindowPaintsItsIconCentred)
{
    RunProgram([](HWND hDlg) {
        SendMessageA(hDlg, WM_PAINT, 0, 0);
        EXPECT_TRUE(HeadlessIconDraws().empty());
        hDlg->bIconic = TRUE;
        hDlg->rcClient = {0, 0, 160, 31};
        hDlg->unhandled.clear();
        SendMessageA(hDlg, WM_PAINT, 0, 0);
        ASSERT_EQ(1u, HeadlessIconDraws().size());
        EXPECT_EQ(64, HeadlessIconDraws()[0].x);  // (160 - 32 + 1) / 2
        EXPECT_EQ(0, HeadlessIconDraws()[0].y);   // (31 - 32 + 1) / 2
        EXPECT_EQ(hDlg->hIconBig, HeadlessIconDraws()[0].hIcon);
        EXPECT_EQ(std::vector<UINT>{WM_ICONERASEBKGND}, hDlg->unhandled);
        EXPECT_EQ(reinterpret_cast<LRESULT>(hDlg->hIconBig), SendMessageA(hDlg, WM_QUERYDRAGICON, 0, 0));
    });
}

TEST_F(AppTest, MessageBoxFromAWorkerThreadIsOwnedByTheWindow)
{
    RunProgram([](HWND hDlg) {
        std::thread worker([] { AppMessageBox("Failed to communicate with system"); });
        ASSERT_TRUE(HeadlessWaitForMessageBoxes(1));
        worker.join();
        HeadlessMessageBox box = HeadlessMessageBoxes().at(0);
        EXPECT_EQ(hDlg, box.hOwner);
        EXPECT_EQ("TandrelConfigurationController", box.strCaption);
        EXPECT_EQ(MB_OK | MB_ICONEXCLAMATION, box.uType);
    });
}
