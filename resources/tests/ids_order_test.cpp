// The framework's ids header first, then the shared one: the guarded ids are skipped and
// the rest must agree (see ids_test.cpp for the other order and the numbers).
#include "framework_ids.h"
#include "resource_ids.h"

static_assert(ID_FILE_NEW == 57600 && AFX_IDS_APP_TITLE == 57344);
