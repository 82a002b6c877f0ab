// The launcher's main flow over the Windows process, job and window services.
#pragma once

namespace vantle {

// Runs the launcher for the argument vector that CommandLineToArgvW made of
// the whole command line (element 0 is the program path). Returns the process
// exit code: the application's, or 1 to 4 for the launcher's own failures.
int launcherMain(int count, wchar_t** arguments);

}  // namespace vantle
