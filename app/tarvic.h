// The application object: starts the main dialog and ends the program when it closes.
#pragma once

#include "platform/ui/framework.h"

class CTarvicApp : public CWinApp {
  public:
    CTarvicApp();

    BOOL InitInstance() override;

  protected:
    const CommandMap& GetMessageMap() const override;
};

extern CTarvicApp theApp;
