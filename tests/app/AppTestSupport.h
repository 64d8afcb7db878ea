// Runs the whole program on the headless backend: a private folder tree
// for the module, the per-user settings and the Windows folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include "app/TandrelConfigurationController.h"
#include "tests/fakes/headless/Headless.h"
#include "resources/resource.h"
#include "tests/app/FakeMapUploader.h"
#include "tests/fakes/TempFolder.h"

inline std::string ReadWholeFile(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void WriteWholeFile(const std::string& strPath, const std::string& strText)
{
    std::ofstream(strPath, std::ios::binary) << strText;
}

class AppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HeadlessReset();
        FakeUploaderReset();
        m_strRoot = MakeTempFolder("tcc-app");
        ASSERT_FALSE(m_strRoot.empty());
        mkdir((m_strRoot + "/appdata").c_str(), 0700);
        mkdir((m_strRoot + "/windows").c_str(), 0700);
        mkdir((m_strRoot + "/out").c_str(), 0700);
        HeadlessSetFolders(m_strRoot + "/appdata", m_strRoot + "/windows");
        HeadlessSetModulePath(m_strRoot + "/bin/TandrelConfigurationController.exe");
        // The window's run log goes to the test's own folder, however the
        // test is started.
        const char* pszState = std::getenv("XDG_STATE_HOME");
        m_strSavedState = pszState ? pszState : "";
        setenv("XDG_STATE_HOME", (m_strRoot + "/state").c_str(), 1);
    }

    void TearDown() override
    {
        setenv("XDG_STATE_HOME", m_strSavedState.c_str(), 1);
        std::system(("rm -rf '" + m_strRoot + "'").c_str());
    }

    // One program run; fnDriver plays the user in the upload window.
    int RunProgram(HeadlessDriver fnDriver)
    {
        HeadlessSetModalDriver(IDD_UPLOADER_DIALOG, std::move(fnDriver));
        return theApp.Run();
    }

    std::string ProfilePath() const
    {
        return m_strRoot + "/appdata/TandrelConfigurationController/TandrelConfigurationController.INI";
    }
    std::string LegacyProfilePath() const { return m_strRoot + "/windows/TandrelConfigurationController.INI"; }
    std::string OutPath(const char* pszName) const { return m_strRoot + "/out/" + pszName; }
    // A file beside the program (a help file), found by its name only.
    void WriteBesideProgram(const char* pszName) const
    {
        mkdir((m_strRoot + "/bin").c_str(), 0700);
        WriteWholeFile(m_strRoot + "/bin/" + pszName, "x");
    }

    static HWND Ctl(HWND hDlg, int nID) { return HeadlessControl(hDlg, nID); }
    static std::string Status(HWND hDlg) { return Ctl(hDlg, IDC_STATUS)->strText; }

    // Save As answers with strPath every time (empty: cancel).
    static void AnswerSaveAs(const std::string& strPath)
    {
        HeadlessSetSaveAsHandler([strPath](const HeadlessSaveAsRequest&, std::string& strOut) {
            if (strPath.empty())
                return FALSE;
            strOut = strPath;
            return TRUE;
        });
    }

    // Save As answers with each path in turn (empty: cancel), then cancels.
    static void AnswerSaveAsInTurn(std::vector<std::string> paths)
    {
        auto pNext = std::make_shared<std::size_t>(0);
        HeadlessSetSaveAsHandler([paths, pNext](const HeadlessSaveAsRequest&, std::string& strOut) {
            if (*pNext >= paths.size() || paths[*pNext].empty())
                return FALSE;
            strOut = paths[(*pNext)++];
            return TRUE;
        });
    }

    // Upload, then one tick that finds the run finished with this image.
    static void UploadImage(HWND hDlg, const std::vector<std::uint8_t>& image)
    {
        ASSERT_TRUE(HeadlessClick(hDlg, IDC_UPLOAD));
        FakeUploaderComplete(image);
        ASSERT_EQ(1, HeadlessTick(hDlg));
    }

    std::string RunLogPath() const { return m_strRoot + "/state/tcc-upload/runs.jsonl"; }

    std::string m_strRoot;
    std::string m_strSavedState;
};
