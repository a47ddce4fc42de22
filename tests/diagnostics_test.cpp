// The capture of diagnostic and trace lines: per thread, by every capture open, and on standard
// error unless the innermost capture keeps them off it.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "device/diagnostics.h"
#include "tests/sim_test_support.h"

namespace {

using Lines = std::vector<std::string>;

TEST(DiagnosticCapture, KeepsTheLinesOfItsOwnThreadInOrderAndWritesThemUnlessToldNotTo) {
    Lines outer;
    Lines inner;
    Lines otherThread;
    const Lines written = stderrLinesOf([&] {
        DiagnosticCapture capture;
        writeDiagnostic("A::a", " - one");
        {
            DiagnosticCapture nested;
            writeTraceLine("usb3k-trace >>: 61 ");
            std::thread([&] {
                DiagnosticCapture theirs(false);
                writeDiagnostic("B::b", " - elsewhere");
                {
                    DiagnosticCapture nestedInQuiet;
                    writeDiagnostic("B::c", " - also kept off");
                }
                otherThread = theirs.take();
            }).join();
            inner = nested.take();
        }
        writeDiagnostic("", "three");
        outer = capture.take();
    });
    EXPECT_EQ(outer, (Lines{"A::a - one", "usb3k-trace >>: 61 ", "three"}));
    EXPECT_EQ(inner, (Lines{"usb3k-trace >>: 61 "}));
    EXPECT_EQ(otherThread, (Lines{"B::b - elsewhere", "B::c - also kept off"}));
    EXPECT_EQ(written, (Lines{"A::a - one", "usb3k-trace >>: 61 ", "three"}));
}

}  // namespace
