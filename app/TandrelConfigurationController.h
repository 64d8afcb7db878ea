// The application object: starts the sockets layer and runs the upload
// window modally as the program's only main window.
#pragma once

#include "app/ui/WinApp.h"
#include "resources/resource.h"

class CUploaderDlg;

class CUploaderApp : public CWinApp {
public:
    CUploaderApp() = default;
    ~CUploaderApp() override = default;

    BOOL InitInstance() override;

    BEGIN_COMMAND_MAP(CUploaderApp)
    ON_COMMAND(ID_HELP, OnHelpCommand)
    END_COMMAND_MAP()

private:
    void OnHelpCommand(CDialog* pSource);

    CUploaderDlg* m_pUploadWindow = nullptr;  // while it runs
};

extern CUploaderApp theApp;
