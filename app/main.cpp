// The host's process entry: rebuilds the device's argument text from argv and
// runs the program's entry with it.
#include "app/entry.h"
#include "platform/entry.h"

int main(int argc, char** argv) { return platform::RunWinMain(argc, argv, WinMain); }
