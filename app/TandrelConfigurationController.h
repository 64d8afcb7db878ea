// The application object: starts the sockets layer and runs the upload
// window modally as the program's only main window.
#pragma once

#include "app/ui/WinApp.h"
#include "resources/resource.h"

class CUploaderApp : public CWinApp {
public:
    CUploaderApp() = default;
    ~CUploaderApp() override = default;

    BOOL InitInstance() override;

    BEGIN_COMMAND_MAP(CUploaderApp)
    ON_COMMAND(ID_HELP, OnHelp)
    END_COMMAND_MAP()
};

extern CUploaderApp theApp;
