// The program's body as a shared library beside the executable: a start that needs the window loads it and runs its
// entry point, while the executable itself stays small enough to start in a few milliseconds for the command line.
#pragma once

#include <QString>

namespace clavora::platform {

// The entry point every program library has: the program's main function.
inline constexpr char ProgramLibraryEntry[] = "clavora_program_main";

// Loads the library FileName from the running executable's folder and returns what its entry point returns for Argc
// and Argv. When it cannot be loaded or has no entry point, returns -1 with the reason in Error.
int runProgramLibrary(const QString& fileName, int argc, char** argv, QString& error);

} // namespace clavora::platform
