// A clean engine for each test: no drive, no volume, an empty cache and pane,
// default preferences and sort order, and the headless window system.
#pragma once
#include <gtest/gtest.h>

#include "support/temp_image.h"

// The program's one reset (ResetProgramState).
void ResetEngineState();

class EngineStateTest : public ::testing::Test {
protected:
    void SetUp() override { ResetEngineState(); }
    void TearDown() override { ResetEngineState(); }
};
