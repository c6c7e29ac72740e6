// The test watchdog (TestMain.cpp) ends a test that runs longer than its
// limit. A test made of many short cases (a thousand mutated files) calls
// TestMadeProgress after each: the limit then counts from the last case, so
// that a loaded machine does not end a test that is slow but not stuck.
#pragma once

void TestMadeProgress();
