// A certificate and key that a test makes for the server.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// A certificate for CN=usb3k-test, signed by its own new key, made with the openssl command;
// `altName` (such as "IP:127.0.0.1") adds a subject alternative name; `newKey` is the key's kind
// as `openssl req -newkey` takes it.
inline void makeCertificate(const std::string& certificate, const std::string& key,
                            const std::string& altName = "",
                            const std::string& newKey = "ec -pkeyopt ec_paramgen_curve:P-256") {
    std::string command = "openssl req -x509 -newkey " + newKey +
                          " -nodes "
                          "-subj /CN=usb3k-test -days 1 " +
                          (altName.empty() ? "" : "-addext subjectAltName=" + altName + " ") +
                          "-keyout " + key + " -out " + certificate + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
}
