// The settings file as a user may leave it after editing it by hand: the
// input is the whole INI text. The program opens its window on it, runs one
// retrieval to reach Save As with the remembered name, and closes, writing
// the settings back. Checked: the port field shows a list entry or nothing,
// Save As proposes what was read (or nothing, when the dialog refuses it),
// the port written back is an index of the list or -1, and the texts read
// again after closing are the texts read at opening.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app/TandrelConfigurationController.h"
#include "app/services/Profile.h"
#include "tests/fakes/headless/Headless.h"
#include "resources/resource.h"
#include "tests/app/FakeMapUploader.h"
#include "tests/fakes/TempFolder.h"

namespace {

void Check(bool bOk)
{
    if (!bOk)
        std::abort();
}

struct Place {
    std::string strRoot;
    std::string strProfile;
};

const Place& TheFolders()
{
    static const Place place = [] {
        Place p;
        p.strRoot = MakeTempFolder("tcc-fuzz-profile");
        mkdir((p.strRoot + "/appdata").c_str(), 0700);
        mkdir((p.strRoot + "/appdata/TandrelConfigurationController").c_str(), 0700);
        mkdir((p.strRoot + "/windows").c_str(), 0700);
        p.strProfile = p.strRoot + "/appdata/TandrelConfigurationController/TandrelConfigurationController.INI";
        return p;
    }();
    return place;
}

struct Settings {
    std::string strConfigFile;
    std::string strIP;
    int nPort;
};

Settings ReadBack(const std::string& strPath)
{
    CProfile profile;
    profile.SetLocation("TandrelConfigurationController.INI", "", strPath.substr(0, strPath.find_last_of('/')));
    return {profile.GetString("Main", "Config_File", "default.map"),
            profile.GetString("IP_Config", "Basestation_IP_Address", "192.168.1.1"),
            profile.GetInt("Serial_Config", "Port", 0)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string strText(reinterpret_cast<const char*>(data), size);
    // The profile calls pass C strings: a NUL ends a value on Windows too.
    if (strText.find('\0') != std::string::npos)
        return 0;

    const Place& place = TheFolders();
    HeadlessReset();
    FakeUploaderReset();
    HeadlessSetFolders(place.strRoot + "/appdata", place.strRoot + "/windows");
    HeadlessSetModulePath(place.strRoot + "/bin/TandrelConfigurationController.exe");
    std::ofstream(place.strProfile, std::ios::binary | std::ios::trunc) << strText;
    const Settings opened = ReadBack(place.strProfile);

    std::string strProposed = "(none)";
    HeadlessSetSaveAsHandler([&](const HeadlessSaveAsRequest& request, std::string&) {
        strProposed = request.strInitialPath;
        return FALSE;  // never write where a fuzzed name points
    });
    HeadlessSetModalDriver(IDD_UPLOADER_DIALOG, [&](HWND hDlg) {
        HWND hPort = HeadlessControl(hDlg, IDC_PORT);
        if (hPort->nCurSel == CB_ERR)
            Check(hPort->strText.empty());
        else
            Check(hPort->nCurSel >= 0 && hPort->nCurSel < 4 &&
                  hPort->strText == hPort->items[static_cast<std::size_t>(hPort->nCurSel)]);
        Check(HeadlessClick(hDlg, IDC_UPLOAD));
        FakeUploaderComplete(std::vector<std::uint8_t>(3, 0x11));
        Check(HeadlessTick(hDlg) == 1);
    });
    theApp.Run();

    Check(strProposed == opened.strConfigFile || strProposed.empty());
    const Settings closed = ReadBack(place.strProfile);
    Check(closed.nPort >= -1 && closed.nPort < 4);
    Check(closed.strConfigFile == opened.strConfigFile);
    Check(closed.strIP == opened.strIP);
    return 0;
}
