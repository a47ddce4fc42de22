// What the library knows of the D2XX library it runs against, beyond the functions it calls.
#pragma once

// True when the D2XX library in this process is the emulator (it exports the emulator's control
// API), false for FTDI's driver.
bool d2xxLibraryIsEmulator();
