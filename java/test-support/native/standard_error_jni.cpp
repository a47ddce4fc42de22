// com.pelmar.base.audio.codec.test.StandardError: redirects file descriptor 2 into a temporary
// file while a test runs, so the test can compare the diagnostic lines the library writes there.
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "com_pelmar_base_audio_codec_test_StandardError.h"

namespace {

int savedStandardError = -1;
std::FILE* capture = nullptr;

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_pelmar_base_audio_codec_test_StandardError_begin(JNIEnv*, jclass) {
    std::fflush(stderr);
    capture = std::tmpfile();
    savedStandardError = dup(STDERR_FILENO);
    dup2(fileno(capture), STDERR_FILENO);
}

JNIEXPORT jbyteArray JNICALL Java_com_pelmar_base_audio_codec_test_StandardError_end(JNIEnv* env,
                                                                                     jclass) {
    std::fflush(stderr);
    dup2(savedStandardError, STDERR_FILENO);
    close(savedStandardError);

    std::vector<char> text;
    std::rewind(capture);
    char chunk[4096];
    size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, capture)) > 0) {
        text.insert(text.end(), chunk, chunk + count);
    }
    std::fclose(capture);
    capture = nullptr;

    jbyteArray result = env->NewByteArray(static_cast<jsize>(text.size()));
    if (result != nullptr && !text.empty()) {
        env->SetByteArrayRegion(result, 0, static_cast<jsize>(text.size()),
                                reinterpret_cast<const jbyte*>(text.data()));
    }
    return result;
}

}  // extern "C"
