// The capture of diagnostic lines: per thread, by every capture open, and every line still on
// standard error.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "device/diagnostics.h"
#include "tests/sim_test_support.h"

namespace {

using Lines = std::vector<std::string>;

TEST(DiagnosticCapture, EachKeepsTheLinesOfItsOwnThreadInOrderWhileTheyStillGoToStandardError) {
    Lines outer;
    Lines inner;
    Lines otherThread;
    const Lines written = stderrLinesOf([&] {
        DiagnosticCapture capture;
        writeDiagnostic("A::a", " - one");
        {
            DiagnosticCapture nested;
            writeDiagnostic("A::b", " - two");
            std::thread([&] {
                DiagnosticCapture theirs;
                writeDiagnostic("B::b", " - elsewhere");
                otherThread = theirs.take();
            }).join();
            inner = nested.take();
        }
        writeDiagnostic("", "three");
        outer = capture.take();
    });
    EXPECT_EQ(outer, (Lines{"A::a - one", "A::b - two", "three"}));
    EXPECT_EQ(inner, (Lines{"A::b - two"}));
    EXPECT_EQ(otherThread, (Lines{"B::b - elsewhere"}));
    EXPECT_EQ(written, (Lines{"A::a - one", "A::b - two", "B::b - elsewhere", "three"}));
}

}  // namespace
