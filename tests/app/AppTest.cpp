// Start-up, the About box, help, painting and message boxes.
#include <cstdio>
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
    WriteBesideProgram("Renamed.chm");
    RunProgram([](HWND hDlg) {
        AppMessageBox("hello");
        ASSERT_TRUE(HeadlessClick(hDlg, ID_HELP));
    });
    EXPECT_EQ("Renamed", HeadlessMessageBoxes().at(0).strCaption);
    EXPECT_EQ(m_strRoot + "/bin/Renamed.chm", HeadlessHelpCalls().at(0).strPath);
    EXPECT_EQ(m_strRoot + "/bin/Renamed.HLP", HeadlessHelpCalls().at(1).strPath);  // the quit request
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

TEST_F(AppTest, HelpTopicsFromTheButtonAndF1)
{
    WriteBesideProgram("TandrelConfigurationController.HLP");
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
    EXPECT_EQ(131174u, calls[0].dwData);
    EXPECT_EQ(131174u, calls[1].dwData);
    EXPECT_EQ(131172u, calls[2].dwData);  // F1 in the About box
    EXPECT_EQ(HELP_QUIT, calls[3].uCommand);
    EXPECT_TRUE(HeadlessMessageBoxes().empty());
}

// Which viewer opens depends on the files beside the program; the quit
// request on destruction goes out in every case, with the upload window.
TEST_F(AppTest, HelpOpensTheFileBesideTheProgramAndClosesItsViewer)
{
    const std::string strHlp = m_strRoot + "/bin/TandrelConfigurationController.HLP";
    const std::string strChm = m_strRoot + "/bin/TandrelConfigurationController.chm";
    struct Case {
        const char* pszName;
        BOOL bHlp;
        BOOL bChm;
        BOOL bViewerOpens;
    };
    for (const Case& c : {Case{"HLP only", TRUE, FALSE, TRUE}, Case{"HLP and CHM", TRUE, TRUE, TRUE},
                          Case{"CHM only", FALSE, TRUE, TRUE}, Case{"neither", FALSE, FALSE, TRUE},
                          Case{"CHM, viewer gives no window", FALSE, TRUE, FALSE}}) {
        SCOPED_TRACE(c.pszName);
        HeadlessReset();
        HeadlessSetFolders(m_strRoot + "/appdata", m_strRoot + "/windows");
        HeadlessSetModulePath(m_strRoot + "/bin/TandrelConfigurationController.exe");
        std::remove(strHlp.c_str());
        std::remove(strChm.c_str());
        if (c.bHlp)
            WriteBesideProgram("TandrelConfigurationController.HLP");
        if (c.bChm)
            WriteBesideProgram("TandrelConfigurationController.chm");
        HeadlessSetHtmlHelpOpens(c.bViewerOpens);
        HWND hWindow = nullptr;
        RunProgram([&](HWND hDlg) {
            hWindow = hDlg;
            ASSERT_TRUE(HeadlessClick(hDlg, ID_HELP));
        });

        std::vector<HeadlessHelpCall> calls = HeadlessHelpCalls();
        std::vector<HeadlessHelpCall> expected;
        BOOL bHtmlOpened = !c.bHlp && c.bChm && c.bViewerOpens;
        if (c.bHlp)
            expected.push_back({hWindow, strHlp, HELP_CONTEXT, 131174u, FALSE});
        else if (c.bChm)
            expected.push_back({hWindow, strChm, HH_HELP_CONTEXT, 131174u, TRUE});
        expected.push_back({hWindow, strHlp, HELP_QUIT, 0u, FALSE});
        if (bHtmlOpened)
            expected.push_back({nullptr, "", HH_CLOSE_ALL, 0u, TRUE});
        ASSERT_EQ(expected.size(), calls.size());
        for (std::size_t i = 0; i < calls.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(expected[i].hOwner, calls[i].hOwner);
            EXPECT_EQ(expected[i].strPath, calls[i].strPath);
            EXPECT_EQ(expected[i].uCommand, calls[i].uCommand);
            EXPECT_EQ(expected[i].dwData, calls[i].dwData);
            EXPECT_EQ(expected[i].bHtmlHelp, calls[i].bHtmlHelp);
        }
        BOOL bFailed = !c.bHlp && !bHtmlOpened;
        ASSERT_EQ(bFailed ? 1u : 0u, HeadlessMessageBoxes().size());
        if (bFailed) {
            EXPECT_EQ("Failed to launch help.", HeadlessMessageBoxes()[0].strText);
        }
    }
}

TEST_F(AppTest, HelpThatCannotStartIsReported)
{
    WriteBesideProgram("TandrelConfigurationController.HLP");
    HeadlessSetHelpResult(FALSE);
    RunProgram([](HWND hDlg) { ASSERT_TRUE(HeadlessClick(hDlg, ID_HELP)); });
    // The Help button, then the quit request on destruction.
    ASSERT_EQ(2u, HeadlessMessageBoxes().size());
    for (const HeadlessMessageBox& box : HeadlessMessageBoxes()) {
        EXPECT_EQ("Failed to launch help.", box.strText);
        EXPECT_EQ(MB_ICONEXCLAMATION, box.uType & MB_ICONMASK);
    }
}

// Save As, message boxes and the help viewer run their own modal loops on the
// UI thread, where the key filter sees their F1 too: it is theirs to handle.
TEST_F(AppTest, F1InADialogTheProgramDidNotCreateIsLeftToIt)
{
    WriteBesideProgram("TandrelConfigurationController.HLP");
    HWND__ foreign;  // every message it gets ends in foreign.unhandled
    foreign.strClass = "dialog";
    foreign.pfnProc = [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; };
    RunProgram([&](HWND hDlg) {
        foreign.pParent = hDlg;
        EXPECT_FALSE(TranslateHelpKey(&foreign, WM_KEYDOWN, VK_F1));
        EXPECT_TRUE(TranslateHelpKey(hDlg, WM_KEYDOWN, VK_F1));
    });
    EXPECT_TRUE(foreign.unhandled.empty());
    std::vector<HeadlessHelpCall> calls = HeadlessHelpCalls();
    ASSERT_EQ(2u, calls.size());  // the upload window's F1, then the quit request
    EXPECT_EQ(131174u, calls[0].dwData);
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
