// The upload window: opening, runs, progress, saving and closing.
#include <dirent.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "app/TandrelConfigurationControllerDlg.h"
#include "tests/app/AppTestSupport.h"

namespace {

std::vector<std::uint8_t> Image(std::size_t cb)
{
    std::vector<std::uint8_t> image(cb);
    for (std::size_t i = 0; i < cb; ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return image;
}

std::string AsText(const std::vector<std::uint8_t>& image) { return std::string(image.begin(), image.end()); }

std::vector<std::string> FolderEntries(const std::string& strFolder)
{
    std::vector<std::string> names;
    DIR* pDir = opendir(strFolder.c_str());
    for (dirent* pEntry; pDir != nullptr && (pEntry = readdir(pDir)) != nullptr;)
        if (pEntry->d_name[0] != '.')
            names.push_back(pEntry->d_name);
    if (pDir != nullptr)
        closedir(pDir);
    return names;
}

}  // namespace

TEST_F(AppTest, FirstOpeningWithoutProfileSelectsCom1AndIsIdle)
{
    RunProgram([](HWND hDlg) {
        HWND hPort = Ctl(hDlg, IDC_PORT);
        EXPECT_EQ((std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}), hPort->items);
        EXPECT_EQ(0, hPort->nCurSel);
        EXPECT_EQ("COM1", hPort->strText);
        EXPECT_EQ("Idle.", Status(hDlg));
        EXPECT_EQ(0, Ctl(hDlg, IDC_PROGRESS)->nPos);
        EXPECT_TRUE(Ctl(hDlg, IDC_UPLOAD)->bEnabled);
        EXPECT_TRUE(hDlg->timers.empty());
        ASSERT_EQ(2u, hDlg->systemMenu.size());
        EXPECT_EQ(MF_SEPARATOR, hDlg->systemMenu[0].uFlags);
        EXPECT_EQ(static_cast<UINT_PTR>(IDM_ABOUTBOX), hDlg->systemMenu[1].uID);
        EXPECT_EQ("&About TandrelConfigurationController...", hDlg->systemMenu[1].strText);
        EXPECT_NE(nullptr, hDlg->hIconBig);
        EXPECT_EQ(hDlg->hIconBig, hDlg->hIconSmall);
    });
    std::string strProfile = ReadWholeFile(ProfilePath());
    EXPECT_NE(std::string::npos, strProfile.find("Port=0"));
    EXPECT_NE(std::string::npos, strProfile.find("Config_File=default.map"));
    EXPECT_NE(std::string::npos, strProfile.find("Basestation_IP_Address=192.168.1.1"));
}

TEST_F(AppTest, StoredPortSelectsItsEntryOrNone)
{
    struct Case {
        const char* pszStored;
        int nSelected;
        const char* pszField;
        const char* pszWrittenBack;
    };
    for (const Case& c : {Case{"2", 2, "COM3", "Port=2"}, Case{"4", CB_ERR, "", "Port=-1"},
                          Case{"-1", CB_ERR, "", "Port=-1"}, Case{"99", CB_ERR, "", "Port=-1"}}) {
        SCOPED_TRACE(c.pszStored);
        mkdir((m_strRoot + "/appdata/TandrelConfigurationController").c_str(), 0700);
        WriteWholeFile(ProfilePath(), std::string("[Serial_Config]\nPort=") + c.pszStored + "\n");
        RunProgram([&](HWND hDlg) {
            EXPECT_EQ(c.nSelected, Ctl(hDlg, IDC_PORT)->nCurSel);
            EXPECT_EQ(c.pszField, Ctl(hDlg, IDC_PORT)->strText);
        });
        EXPECT_NE(std::string::npos, ReadWholeFile(ProfilePath()).find(c.pszWrittenBack));
    }
}

// The four fixed entries first, then what Windows lists, each once and in
// numeric order; read again at every drop-down.
TEST_F(AppTest, PortListFollowsThePortsWindowsListsAtEachDropDown)
{
    using Names = std::vector<std::string>;
    HeadlessSetSerialPorts({"COM10", "COM3", "com7", "COM9", "COM7", "CNCA0", "COM100"});
    RunProgram([](HWND hDlg) {
        HWND hPort = Ctl(hDlg, IDC_PORT);
        EXPECT_EQ((Names{"COM1", "COM2", "COM3", "COM4", "CNCA0", "COM7", "COM9", "COM10", "COM100"}), hPort->items);
        EXPECT_EQ("COM1", hPort->strText);

        // An adapter plugged in, another pulled; the field keeps its port.
        const int nReads = HeadlessSerialPortReads();
        HeadlessSetSerialPorts({"COM12", "COM5", "COM9"});
        HeadlessSelect(hPort, 6);  // COM9
        HeadlessDropDown(hPort);
        EXPECT_EQ(nReads + 1, HeadlessSerialPortReads());
        EXPECT_EQ((Names{"COM1", "COM2", "COM3", "COM4", "COM5", "COM9", "COM12"}), hPort->items);
        EXPECT_EQ(5, hPort->nCurSel);
        EXPECT_EQ("COM9", hPort->strText);

        // The shown port went away: its name stays in the field, as if typed.
        HeadlessSetSerialPorts({});
        HeadlessDropDown(hPort);
        EXPECT_EQ((Names{"COM1", "COM2", "COM3", "COM4"}), hPort->items);
        EXPECT_EQ(CB_ERR, hPort->nCurSel);
        EXPECT_EQ("COM9", hPort->strText);
        ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
        EXPECT_EQ(Names{"COM9"}, FakeUploader().portNames);
    });
}

// A port beyond the four, picked or typed, comes back at the next opening;
// "Port" keeps indexing the four, -1 for any other.
TEST_F(AppTest, APortBeyondTheFourIsRememberedByName)
{
    struct Case {
        const char* pszLabel;
        std::function<void(HWND)> fnChoose;
        const char* pszPort;
        const char* pszPortName;
        int nSelectedAgain;
        const char* pszFieldAgain;
    };
    const Case cases[] = {
        {"picked",
         [](HWND h) {
             HeadlessDropDown(h);
             HeadlessSelect(h, 4);
         },
         "Port=-1", "Port_Name=COM7", 4, "COM7"},
        {"typed, absent", [](HWND h) { HeadlessTypeText(h, "com15"); }, "Port=-1", "Port_Name=COM15", CB_ERR, "COM15"},
        {"typed, listed", [](HWND h) { HeadlessTypeText(h, "com7"); }, "Port=-1", "Port_Name=COM7", 4, "COM7"},
        {"one of the four", [](HWND h) { HeadlessSelect(h, 2); }, "Port=2", "Port_Name=", 2, "COM3"},
        {"none", [](HWND h) { HeadlessTypeText(h, ""); }, "Port=-1", "Port_Name=", CB_ERR, ""},
    };
    HeadlessSetSerialPorts({"COM7"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszLabel);
        RunProgram([&](HWND hDlg) { c.fnChoose(Ctl(hDlg, IDC_PORT)); });
        std::istringstream profile(ReadWholeFile(ProfilePath()));
        std::vector<std::string> lines;
        for (std::string strLine; std::getline(profile, strLine);)
            lines.push_back(strLine.substr(0, strLine.find('\r')));
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), c.pszPort));
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), c.pszPortName));
        RunProgram([&](HWND hDlg) {
            EXPECT_EQ(c.nSelectedAgain, Ctl(hDlg, IDC_PORT)->nCurSel);
            EXPECT_EQ(c.pszFieldAgain, Ctl(hDlg, IDC_PORT)->strText);
        });
    }
}

TEST_F(AppTest, TypedPortNameIsUsedInUpperCase)
{
    RunProgram([](HWND hDlg) {
        HeadlessTypeText(Ctl(hDlg, IDC_PORT), "com12");
        EXPECT_EQ("COM12", Ctl(hDlg, IDC_PORT)->strText);
        ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
        EXPECT_EQ(std::vector<std::string>{"COM12"}, FakeUploader().portNames);
        EXPECT_EQ(1, FakeUploader().nStarts);
        EXPECT_EQ("Upload in progress.", Status(hDlg));
        EXPECT_FALSE(Ctl(hDlg, IDC_UPLOAD)->bEnabled);
        ASSERT_EQ(1u, hDlg->timers.size());
        EXPECT_EQ((std::pair<UINT_PTR, UINT>{1, 250}), hDlg->timers[0]);
    });
    // Typing leaves no list entry selected.
    EXPECT_NE(std::string::npos, ReadWholeFile(ProfilePath()).find("Port=-1"));
}

TEST_F(AppTest, ProgressFollowsTheRun)
{
    RunProgram([](HWND hDlg) {
        HWND hBar = Ctl(hDlg, IDC_PROGRESS);
        ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
        HeadlessTick(hDlg);  // size not announced yet: an empty bar
        EXPECT_EQ(0, hBar->nLower);
        EXPECT_EQ(1, hBar->nUpper);
        EXPECT_EQ(0, hBar->nPos);

        // Above 65535 bytes: the 32-bit range.
        FakeUploader().dwTotal = 300000;
        FakeUploader().dwReceived = 123456;
        HeadlessTick(hDlg);
        EXPECT_EQ(300000, hBar->nUpper);
        EXPECT_EQ(123456, hBar->nPos);

        FakeUploaderComplete(Image(300000));
        HeadlessTick(hDlg);
        EXPECT_EQ(hBar->nUpper, hBar->nPos);
        EXPECT_EQ("Completed OK", Status(hDlg));
        EXPECT_TRUE(hDlg->timers.empty());
        EXPECT_EQ(1, FakeUploader().nDeletes);
    });
}

TEST_F(AppTest, BarIsFullAtTheEndEvenWhenNoTickSawTheSize)
{
    struct Case {
        std::size_t cbImage;
        int nPos;
        int nUpper;
    };
    RunProgram([](HWND hDlg) {
        HWND hBar = Ctl(hDlg, IDC_PROGRESS);
        // A big run first, so that a stale range would show the next run short.
        for (const Case& c : {Case{500000, 500000, 500000}, Case{1000, 1000, 1000}, Case{0, 0, 1}}) {
            SCOPED_TRACE(c.cbImage);
            UploadImage(hDlg, Image(c.cbImage));
            EXPECT_EQ(c.nPos, hBar->nPos);
            EXPECT_EQ(c.nUpper, hBar->nUpper);
        }
    });
}

TEST_F(AppTest, StatusStaysInProgressWhileSaveAsIsOpen)
{
    std::vector<std::uint8_t> image = Image(5000);
    std::string strPath = OutPath("a.qmf");
    RunProgram([&](HWND hDlg) {
        HeadlessSetSaveAsHandler([&](const HeadlessSaveAsRequest& request, std::string& strOut) {
            EXPECT_EQ(hDlg, request.hOwner);
            static const char kFilter[] = "Halvorix config files (*.qmf)\0*.qmf\0All Files (*.*)\0*.*\0\0";
            EXPECT_EQ(std::string(kFilter, sizeof(kFilter) - 1), request.strFilter);
            EXPECT_EQ("qmf", request.strDefExt);
            EXPECT_EQ("default.map", request.strInitialPath);
            EXPECT_EQ("Upload in progress.", Status(hDlg));
            EXPECT_TRUE(hDlg->timers.empty());
            EXPECT_TRUE(Ctl(hDlg, IDC_UPLOAD)->bEnabled);
            strOut = strPath;
            return TRUE;
        });
        UploadImage(hDlg, image);
        EXPECT_EQ("Completed OK", Status(hDlg));
        // Remembered at once, not only when the window closes.
        EXPECT_NE(std::string::npos, ReadWholeFile(ProfilePath()).find("Config_File=" + strPath));
    });
    EXPECT_EQ(AsText(image), ReadWholeFile(strPath));
    EXPECT_EQ(std::vector<std::string>{"a.qmf"}, FolderEntries(m_strRoot + "/out"));
}

TEST_F(AppTest, SaveAsCancelledWritesNothing)
{
    RunProgram([](HWND hDlg) {
        AnswerSaveAs("");
        UploadImage(hDlg, Image(100));
        EXPECT_EQ("Completed OK", Status(hDlg));
        EXPECT_EQ(1, FakeUploader().nDeletes);
    });
    EXPECT_TRUE(FolderEntries(m_strRoot + "/out").empty());
    EXPECT_NE(std::string::npos, ReadWholeFile(ProfilePath()).find("Config_File=default.map"));
    EXPECT_TRUE(HeadlessMessageBoxes().empty());
}

// A save that fails tells why, keeps what was on the disk, and offers Save As
// again: the image is saved on a later try, or dropped only when the user
// cancels Save As.
TEST_F(AppTest, FailedSaveOffersSaveAsAgainUntilSavedOrCancelled)
{
    enum Fault { CantOpen, DiskFull, DialogFails, DialogNeverShows };
    struct Case {
        const char* pszName;
        Fault fault;
        BOOL bCancelSecond;  // the user cancels the second Save As
        std::string strBox;
        UINT uType;
        std::size_t nRequests;  // Save As dialogs that reached the user
        std::size_t nBoxes = 1;
    };
    const std::string strKeep = OutPath("keep.qmf");
    const std::string strBad = m_strRoot + "/no-such-folder/x.qmf";
    const std::string strRefused = "site|7?.qmf";  // a remembered name the dialog refuses
    const Case cases[] = {
        {"cant-open", CantOpen, FALSE, "Can't open file " + strBad, MB_OK | MB_ICONEXCLAMATION, 2},
        {"disk-full", DiskFull, FALSE, "Disk full while accessing " + strKeep + ".", MB_OK | MB_ICONSTOP, 2},
        {"dialog-fails", DialogFails, FALSE, "An unknown error occurred while accessing " + strRefused + ".",
         MB_OK | MB_ICONSTOP, 1},
        {"then-cancelled", CantOpen, TRUE, "Can't open file " + strBad, MB_OK | MB_ICONEXCLAMATION, 2},
        // The user could never leave the boxes: a few tries, then the image goes.
        {"dialog-never-shows", DialogNeverShows, TRUE, "An unknown error occurred while accessing x.",
         MB_OK | MB_ICONSTOP, 0, 3},
    };
    const std::vector<std::uint8_t> image = Image(4096);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        HeadlessReset();
        FakeUploaderReset();
        HeadlessSetFolders(m_strRoot + "/appdata", m_strRoot + "/windows");
        mkdir((m_strRoot + "/appdata/TandrelConfigurationController").c_str(), 0700);
        WriteWholeFile(ProfilePath(), "[Main]\r\nConfig_File=" + (c.fault == DialogFails ? strRefused : "x") + "\r\n");
        WriteWholeFile(strKeep, "the previous configuration");
        if (c.fault == DiskFull)
            HeadlessInjectFileError(FileOpWrite, 112);  // ERROR_DISK_FULL
        if (c.fault == DialogFails)
            HeadlessFailSaveAs(1, 0xFFFF);  // CDERR_DIALOGFAILURE, on the try without a name
        if (c.fault == DialogNeverShows)
            HeadlessFailSaveAs(1000, 0xFFFF);
        AnswerSaveAsInTurn({c.fault == CantOpen ? strBad : strKeep, c.bCancelSecond ? "" : strKeep});
        HeadlessSetMessageBoxHandler([&](const HeadlessMessageBox&) {
            EXPECT_EQ("the previous configuration", ReadWholeFile(strKeep));
            return IDOK;
        });
        RunProgram([&](HWND hDlg) {
            UploadImage(hDlg, image);
            EXPECT_EQ("Completed OK", Status(hDlg));
            EXPECT_EQ(1, FakeUploader().nDeletes);
        });
        std::vector<HeadlessMessageBox> boxes = HeadlessMessageBoxes();
        ASSERT_EQ(c.nBoxes, boxes.size());
        EXPECT_EQ(c.strBox, boxes[0].strText);
        EXPECT_EQ(c.uType, boxes[0].uType);
        EXPECT_EQ("TandrelConfigurationController", boxes[0].strCaption);
        EXPECT_EQ(c.nRequests, HeadlessSaveAsRequests().size());
        EXPECT_EQ(c.bCancelSecond ? "the previous configuration" : AsText(image), ReadWholeFile(strKeep));
        EXPECT_EQ(!c.bCancelSecond, ReadWholeFile(ProfilePath()).find("Config_File=" + strKeep) != std::string::npos);
    }
}

TEST_F(AppTest, SavedPathIsProposedNextTimeAndAfterRestart)
{
    std::string strPath = OutPath("saved.qmf");
    RunProgram([&](HWND hDlg) {
        AnswerSaveAs(strPath);
        UploadImage(hDlg, Image(10));
        AnswerSaveAs("");
        UploadImage(hDlg, Image(20));
    });
    RunProgram([&](HWND hDlg) { UploadImage(hDlg, Image(30)); });
    std::vector<HeadlessSaveAsRequest> requests = HeadlessSaveAsRequests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ("default.map", requests[0].strInitialPath);
    EXPECT_EQ(strPath, requests[1].strInitialPath);
    EXPECT_EQ(strPath, requests[2].strInitialPath);
}

TEST_F(AppTest, ClosingDuringARunDeletesTheUploaderWithoutSaveAs)
{
    RunProgram([](HWND hDlg) {
        ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
        HeadlessTick(hDlg);
        ASSERT_TRUE(HeadlessClick(hDlg, IDCANCEL));
        EXPECT_TRUE(hDlg->bEnded);
        EXPECT_EQ(IDCANCEL, hDlg->nResult);
        EXPECT_EQ(1, FakeUploader().nDeletes);
        EXPECT_TRUE(hDlg->timers.empty());
    });
    EXPECT_TRUE(HeadlessSaveAsRequests().empty());
    EXPECT_NE(std::string::npos, ReadWholeFile(ProfilePath()).find("Port=0"));
}

namespace {

// The window's uploader member as a re-entrant handler would find it. An
// explicit instantiation may name a private member; the friend it defines
// hands the member pointer out.
struct UploaderSlot {
    using Type = CMapUploader* CUploaderDlg::*;
    friend Type MemberOf(UploaderSlot);
};
template <typename Slot, typename Slot::Type pMember>
struct SlotOpener {
    friend typename Slot::Type MemberOf(Slot) { return pMember; }
};
template struct SlotOpener<UploaderSlot, &CUploaderDlg::m_pUploader>;

CMapUploader* UploaderHeldByTheWindow()
{
    return static_cast<CUploaderDlg*>(AfxGetApp()->m_pMainWnd)->*MemberOf(UploaderSlot());
}

}  // namespace

// Deleting the uploader waits for its threads while sent messages are
// served: the window must hold no uploader by then, whichever way the run
// ends, so that nothing re-entering finds one to read or delete again.
TEST_F(AppTest, TheUploaderLeavesTheWindowBeforeItIsDeleted)
{
    const struct {
        const char* pszName;
        BOOL bCancel;
    } cases[] = {{"Cancel", TRUE}, {"end of the run", FALSE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        FakeUploaderReset();
        AnswerSaveAs(OutPath("image.qmf"));
        int nChecked = 0;
        RunProgram([&](HWND hDlg) {
            ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
            ASSERT_NE(nullptr, UploaderHeldByTheWindow());
            FakeUploader().fnDuringDelete = [&] {
                EXPECT_EQ(nullptr, UploaderHeldByTheWindow());
                ++nChecked;
            };
            if (!c.bCancel) {
                FakeUploaderComplete(Image(100));
                HeadlessTick(hDlg);
            }
            HeadlessClick(hDlg, IDCANCEL);
        });
        EXPECT_EQ(1, nChecked);
    }
}

TEST_F(AppTest, UploadIsUsableAgainRightAfterAFailure)
{
    RunProgram([](HWND hDlg) {
        FakeUploader().bFinishOnStart = 1;  // the port did not open
        ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
        HeadlessTick(hDlg);
        EXPECT_EQ("Failed", Status(hDlg));
        EXPECT_TRUE(Ctl(hDlg, IDC_UPLOAD)->bEnabled);
        EXPECT_EQ(1, FakeUploader().nDeletes);
        FakeUploader().bFinishOnStart = 0;
        ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
        EXPECT_EQ(2u, FakeUploader().portNames.size());
        EXPECT_EQ("Upload in progress.", Status(hDlg));
    });
    EXPECT_TRUE(HeadlessSaveAsRequests().empty());
}

TEST_F(AppTest, SettingsAreReadAndWrittenInTheirOrder)
{
    RunProgram([](HWND) {});
    EXPECT_EQ((std::vector<std::string>{
                  "R IP_Config/Basestation_IP_Address",
                  "R Serial_Config/Port",
                  "R Serial_Config/Port_Name",
                  "R Main/Config_File",
                  "W Serial_Config/Port=0",
                  "W Serial_Config/Port_Name=",
                  "W Main/Config_File=default.map",
                  "W IP_Config/Basestation_IP_Address=192.168.1.1",
              }),
              HeadlessProfileLog());
}

TEST_F(AppTest, SettingsOfEarlierVersionsCarryOver)
{
    const std::string strLegacy =
        "[IP_Config]\r\nBasestation_IP_Address=10.1.2.3\r\n[Serial_Config]\r\nPort=3\r\n[Main]\r\nConfig_File=C:\\old."
        "qmf\r\n";
    WriteWholeFile(LegacyProfilePath(), strLegacy);
    RunProgram([](HWND hDlg) {
        EXPECT_EQ("COM4", Ctl(hDlg, IDC_PORT)->strText);
        AnswerSaveAs("");
        UploadImage(hDlg, Image(1));
        ASSERT_EQ(1u, HeadlessSaveAsRequests().size());
        EXPECT_EQ("C:\\old.qmf", HeadlessSaveAsRequests()[0].strInitialPath);
        HeadlessSelect(Ctl(hDlg, IDC_PORT), 1);
    });
    // The old file is left alone; the new one has every key.
    EXPECT_EQ(strLegacy, ReadWholeFile(LegacyProfilePath()));
    std::string strProfile = ReadWholeFile(ProfilePath());
    EXPECT_NE(std::string::npos, strProfile.find("Port=1"));
    EXPECT_NE(std::string::npos, strProfile.find("Config_File=C:\\old.qmf"));
    EXPECT_NE(std::string::npos, strProfile.find("Basestation_IP_Address=10.1.2.3"));

    // From now on the new file wins.
    WriteWholeFile(LegacyProfilePath(), "[Serial_Config]\r\nPort=3\r\n");
    RunProgram([](HWND hDlg) { EXPECT_EQ("COM2", Ctl(hDlg, IDC_PORT)->strText); });
}
