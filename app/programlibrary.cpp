// The program's body: everything a start with the window needs, loaded by the executable (app/main.cpp) only then.
#include "platform/posix/programlibrary.h"
#include "app/startup.h"

extern "C" __attribute__((visibility("default"))) int clavora_program_main(int argc, char** argv) {
    return clavora::runProgram(argc, argv);
}
