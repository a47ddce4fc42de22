#pragma once

#include <jni.h>

#include <memory>
#include <string>
#include <vector>

// A JNI environment of our own, for calling usb3k.dll the way a JVM does without a JVM. Only the
// functions the bridge uses are implemented: NewStringUTF, GetArrayLength, GetByteArrayElements,
// ReleaseByteArrayElements, GetByteArrayRegion, SetByteArrayRegion and ExceptionClear. Every other
// slot of the function table ends the process with a message naming the slot, since returning from
// a
// __stdcall function of unknown arity would corrupt the stack.
//
// Java arrays and strings live in this object; misuse a JVM would punish (an unknown or null
// array, a region out of range, elements released twice or never) is recorded in faults().
class FakeJniEnv {
  public:
    FakeJniEnv();
    ~FakeJniEnv();
    FakeJniEnv(const FakeJniEnv&) = delete;
    FakeJniEnv& operator=(const FakeJniEnv&) = delete;

    JNIEnv* env();

    jbyteArray newByteArray(const std::vector<jbyte>& contents);
    const std::vector<jbyte>& contents(jbyteArray array) const;
    // The text of a string made by NewStringUTF; a fault when it was not made here.
    std::string text(jstring string);

    // The names of the JNI functions called, in order, e.g. "GetByteArrayElements".
    const std::vector<const char*>& calls() const { return calls_; }
    int callCount(const std::string& name) const;
    // Room for `count` more calls' records, so that recording them allocates nothing: for a test
    // that counts allocations.
    void reserveCalls(std::size_t count);
    // Release modes passed to ReleaseByteArrayElements, in order.
    const std::vector<jint>& releaseModes() const { return releaseModes_; }
    // Start and length of each SetByteArrayRegion.
    const std::vector<std::pair<jsize, jsize>>& regions() const { return regions_; }
    // Elements obtained with GetByteArrayElements and not yet released.
    int outstandingElements() const { return static_cast<int>(pinned_.size()); }
    const std::vector<std::string>& faults() const { return faults_; }

    struct Array;
    struct Pinned;

    // Used by the table's functions.
    static FakeJniEnv& of(JNIEnv* env);
    Array* array(jarray handle, const char* function);
    void record(const char* function) { calls_.emplace_back(function); }
    void fault(std::string what) { faults_.push_back(std::move(what)); }
    jstring newString(const char* utf);
    jbyte* pin(Array* array);
    void unpin(Array* array, jbyte* elements, jint mode);
    void getRegion(Array* array, jsize start, jsize length, jbyte* bytes);
    void setRegion(Array* array, jsize start, jsize length, const jbyte* bytes);

  private:
    struct Holder {
        JNIEnv env;  // first: the bridge's JNIEnv* is a pointer to this holder
        FakeJniEnv* owner;
    };

    JNINativeInterface_ table_;
    Holder holder_;
    std::vector<std::unique_ptr<Array>> arrays_;
    std::vector<std::unique_ptr<std::string>> strings_;
    std::vector<std::unique_ptr<Pinned>> pinned_;
    std::vector<const char*> calls_;
    std::vector<jint> releaseModes_;
    std::vector<std::pair<jsize, jsize>> regions_;
    std::vector<std::string> faults_;
};
