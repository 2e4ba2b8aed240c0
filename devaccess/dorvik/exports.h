// Set-up and tear-down of the exports' shared state, called from DllMain.
#pragma once

namespace dorvik {

void InitExports();
void EndExports();

} // namespace dorvik
