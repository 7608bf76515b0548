// The clavora executable.
#include "app/main.h"

int main(int argc, char** argv) { return clavora::RunProgram(argc, argv); }
