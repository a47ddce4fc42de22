// The serial link's settings, shared by configuring the link and by bringing it back in step.
#pragma once

#include <string>

#include "d2xx/d2xx.h"

constexpr ULONG BAUD_RATE = 460800;
// The FTDI chip hands a partial USB packet on when this timer runs out; the tail of every answer
// waits for it. USB3K_LATENCY_TIMER_MS chooses another, from 1 to 16.
constexpr UCHAR LATENCY_TIMER_MS = 4;
constexpr UCHAR LATENCY_TIMER_MIN_MS = 1;
constexpr UCHAR LATENCY_TIMER_MAX_MS = 16;
constexpr const char* LATENCY_TIMER_VARIABLE = "USB3K_LATENCY_TIMER_MS";
constexpr ULONG USB_IN_TRANSFER_SIZE = 1024;
constexpr ULONG USB_OUT_TRANSFER_SIZE = 0;
constexpr ULONG READ_TIMEOUT_MS = 200;
constexpr ULONG WRITE_TIMEOUT_MS = 100;
constexpr UCHAR XON = 0x11;
constexpr UCHAR XOFF = 0x13;

// The latency timer the environment asks for (USB3K_LATENCY_TIMER_MS), or LATENCY_TIMER_MS when
// it asks for none. A value that is not a whole number from 1 to 16 is not used: `problem` then
// says why, and the default holds.
UCHAR latencyTimerWanted(std::string& problem);
