#pragma once

#include "processexit.h"

#include <QtTest>

// QTEST_MAIN, ending the process the way the phone does: the audio engine's
// exit-time teardown can abort a test binary that has already passed.
#define SORVANTO_TEST_MAIN(TestObject) \
    static int runTests(int argc, char *argv[]) \
    { \
        QTEST_MAIN_IMPL(TestObject) \
    } \
    int main(int argc, char *argv[]) \
    { \
        ProcessExit::leave(runTests(argc, argv)); \
    }
