// The clavora executable.
#include "app/startup.h"

int main(int argc, char** argv) {
    return clavora::runProgram(argc, argv);
}
