#pragma once

#include <jni.h>

#include "bridge/bridge_state.h"

// Decodes the VCW frames of vcw[vcwOffset..] on the current device and writes the speech into
// pcm from pcmOffset, each 16-bit sample low byte first. Arguments that would make the JVM raise
// an exception or write outside pcm, and a call without a current device, are refused with one
// diagnostic line before any exchange, leaving pcm as it was. The caller holds state.lock.
void decodeIntoJava(JNIEnv* env, BridgeState& state, jbyteArray vcw, jint vcwOffset, jbyteArray pcm,
                    jint pcmOffset);
