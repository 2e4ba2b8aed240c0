// The printer-properties dialog (136): the current printer's properties in tree 137.
#pragma once

#include "framework.h"

class CPrtProp : public CDialog {
  public:
    explicit CPrtProp(CWnd *parent = nullptr);
    BOOL OnInitDialog() override;
};
