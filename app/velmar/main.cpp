// velmar: the one application object; the framework's WinMain runs it.
#include "zqapp.h"

CZqApp AppObject;
