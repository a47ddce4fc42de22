#pragma once

#include <jni.h>

#include "bridge/bridge_state.h"

// Decodes the VCW frames of vcw[vcwOffset..] on the current device and writes the speech into
// pcm from pcmOffset, each 16-bit sample low byte first. Arguments that would make the JVM raise
// an exception or write outside pcm, and a call without a current device, are refused with one
// diagnostic line before any exchange, leaving pcm as it was. A frame that fails on a device D2XX
// no longer lists marks it removed, with a line that says so; from then on each call is refused
// with that one line, until the next initialize. The caller holds state.lock.
void decodeIntoJava(JNIEnv* env, BridgeState& state, jbyteArray vcw, jint vcwOffset, jbyteArray pcm,
                    jint pcmOffset);
