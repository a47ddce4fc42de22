#include "tests/fake_jni_env.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

struct FakeJniEnv::Array {
    std::vector<jbyte> bytes;
};

// Elements handed out by GetByteArrayElements: a copy, as many JVMs give, so that a bridge that
// forgets to release them (or releases with the wrong mode) loses what it wrote.
struct FakeJniEnv::Pinned {
    Array* array;
    std::vector<jbyte> copy;
};

namespace {

constexpr std::size_t kSlots = sizeof(JNINativeInterface_) / sizeof(void*);
static_assert(sizeof(JNINativeInterface_) % sizeof(void*) == 0, "the table is all pointers");

template <std::size_t Slot>
void JNICALL unexpectedCall() {
    std::fprintf(stderr,
                 "usb3k.dll called JNI function table slot %u, which it is not known to use\n",
                 static_cast<unsigned>(Slot));
    std::fflush(stderr);
    std::_Exit(70);
}

template <std::size_t... Slots>
std::array<void*, kSlots> unexpectedCalls(std::index_sequence<Slots...>) {
    return {reinterpret_cast<void*>(&unexpectedCall<Slots>)...};
}

jsize JNICALL getArrayLength(JNIEnv* env, jarray handle) {
    FakeJniEnv& fake = FakeJniEnv::of(env);
    fake.record("GetArrayLength");
    FakeJniEnv::Array* array = fake.array(handle, "GetArrayLength");
    return array == nullptr ? 0 : static_cast<jsize>(array->bytes.size());
}

jbyte* JNICALL getByteArrayElements(JNIEnv* env, jbyteArray handle, jboolean* isCopy) {
    FakeJniEnv& fake = FakeJniEnv::of(env);
    fake.record("GetByteArrayElements");
    FakeJniEnv::Array* array = fake.array(handle, "GetByteArrayElements");
    if (array == nullptr) {
        return nullptr;
    }
    if (isCopy != nullptr) {
        *isCopy = JNI_TRUE;
    }
    return fake.pin(array);
}

void JNICALL releaseByteArrayElements(JNIEnv* env, jbyteArray handle, jbyte* elements, jint mode) {
    FakeJniEnv& fake = FakeJniEnv::of(env);
    fake.record("ReleaseByteArrayElements");
    FakeJniEnv::Array* array = fake.array(handle, "ReleaseByteArrayElements");
    if (array != nullptr) {
        fake.unpin(array, elements, mode);
    }
}

void JNICALL getByteArrayRegion(JNIEnv* env, jbyteArray handle, jsize start, jsize length,
                                jbyte* bytes) {
    FakeJniEnv& fake = FakeJniEnv::of(env);
    fake.record("GetByteArrayRegion");
    FakeJniEnv::Array* array = fake.array(handle, "GetByteArrayRegion");
    if (array != nullptr) {
        fake.getRegion(array, start, length, bytes);
    }
}

void JNICALL setByteArrayRegion(JNIEnv* env, jbyteArray handle, jsize start, jsize length,
                                const jbyte* bytes) {
    FakeJniEnv& fake = FakeJniEnv::of(env);
    fake.record("SetByteArrayRegion");
    FakeJniEnv::Array* array = fake.array(handle, "SetByteArrayRegion");
    if (array != nullptr) {
        fake.setRegion(array, start, length, bytes);
    }
}

jstring JNICALL newStringUtf(JNIEnv* env, const char* utf) {
    FakeJniEnv& fake = FakeJniEnv::of(env);
    fake.record("NewStringUTF");
    return fake.newString(utf);
}

void JNICALL exceptionClear(JNIEnv* env) {
    FakeJniEnv::of(env).record("ExceptionClear");
}

}  // namespace

FakeJniEnv::FakeJniEnv() {
    const std::array<void*, kSlots> unexpected =
        unexpectedCalls(std::make_index_sequence<kSlots>());
    std::memcpy(&table_, unexpected.data(), sizeof(table_));
    table_.GetArrayLength = &getArrayLength;
    table_.GetByteArrayElements = &getByteArrayElements;
    table_.ReleaseByteArrayElements = &releaseByteArrayElements;
    table_.GetByteArrayRegion = &getByteArrayRegion;
    table_.SetByteArrayRegion = &setByteArrayRegion;
    table_.NewStringUTF = &newStringUtf;
    table_.ExceptionClear = &exceptionClear;
    holder_.env.functions = &table_;
    holder_.owner = this;
}

FakeJniEnv::~FakeJniEnv() = default;

JNIEnv* FakeJniEnv::env() {
    return &holder_.env;
}

FakeJniEnv& FakeJniEnv::of(JNIEnv* env) {
    return *reinterpret_cast<Holder*>(env)->owner;
}

jbyteArray FakeJniEnv::newByteArray(const std::vector<jbyte>& contents) {
    arrays_.push_back(std::make_unique<Array>(Array{contents}));
    return reinterpret_cast<jbyteArray>(arrays_.back().get());
}

const std::vector<jbyte>& FakeJniEnv::contents(jbyteArray array) const {
    return reinterpret_cast<const Array*>(array)->bytes;
}

std::string FakeJniEnv::text(jstring string) {
    for (const auto& made : strings_) {
        if (reinterpret_cast<jstring>(made.get()) == string) {
            return *made;
        }
    }
    fault("a string not made by NewStringUTF was returned");
    return {};
}

int FakeJniEnv::callCount(const std::string& name) const {
    int count = 0;
    for (const char* call : calls_) {
        count += call == name ? 1 : 0;
    }
    return count;
}

void FakeJniEnv::reserveCalls(std::size_t count) {
    calls_.reserve(calls_.size() + count);
    regions_.reserve(regions_.size() + count);
}

FakeJniEnv::Array* FakeJniEnv::array(jarray handle, const char* function) {
    for (const auto& made : arrays_) {
        if (reinterpret_cast<jarray>(made.get()) == handle) {
            return made.get();
        }
    }
    fault(std::string(function) +
          (handle == nullptr ? " on a null array" : " on an unknown array"));
    return nullptr;
}

jstring FakeJniEnv::newString(const char* utf) {
    if (utf == nullptr) {
        fault("NewStringUTF with a null text");
        return nullptr;
    }
    strings_.push_back(std::make_unique<std::string>(utf));
    return reinterpret_cast<jstring>(strings_.back().get());
}

jbyte* FakeJniEnv::pin(Array* array) {
    pinned_.push_back(std::make_unique<Pinned>(Pinned{array, array->bytes}));
    // A zero-length array still gets a distinct, non-null pointer, as from a JVM.
    pinned_.back()->copy.reserve(1);
    return pinned_.back()->copy.data();
}

void FakeJniEnv::unpin(Array* array, jbyte* elements, jint mode) {
    releaseModes_.push_back(mode);
    for (auto it = pinned_.begin(); it != pinned_.end(); ++it) {
        if ((*it)->array == array && (*it)->copy.data() == elements) {
            if (mode == 0 || mode == JNI_COMMIT) {
                array->bytes = (*it)->copy;
            }
            if (mode != JNI_COMMIT) {
                pinned_.erase(it);
            }
            return;
        }
    }
    fault("ReleaseByteArrayElements with elements that are not outstanding for that array");
}

void FakeJniEnv::getRegion(Array* array, jsize start, jsize length, jbyte* bytes) {
    const jsize size = static_cast<jsize>(array->bytes.size());
    if (start < 0 || length < 0 || start > size || length > size - start) {
        fault("GetByteArrayRegion out of bounds: start " + std::to_string(start) + ", length " +
              std::to_string(length) + ", array length " + std::to_string(size));
        return;
    }
    std::copy(array->bytes.begin() + start, array->bytes.begin() + start + length, bytes);
}

void FakeJniEnv::setRegion(Array* array, jsize start, jsize length, const jbyte* bytes) {
    regions_.emplace_back(start, length);
    const jsize size = static_cast<jsize>(array->bytes.size());
    // A JVM throws ArrayIndexOutOfBoundsException and writes nothing.
    if (start < 0 || length < 0 || start > size || length > size - start) {
        fault("SetByteArrayRegion out of bounds: start " + std::to_string(start) + ", length " +
              std::to_string(length) + ", array length " + std::to_string(size));
        return;
    }
    if (length > 0 && bytes == nullptr) {
        fault("SetByteArrayRegion from a null buffer");
        return;
    }
    std::copy(bytes, bytes + length, array->bytes.begin() + start);
}
