// A clean program for each test: ResetProgramState, the program's one reset,
// before and after.
#pragma once
#include <gtest/gtest.h>

#include "support/temp_image.h"
#include "ui/program_state.h"

inline void ResetEngineState() { ResetProgramState(); }

class EngineStateTest : public ::testing::Test {
protected:
    void SetUp() override { ResetEngineState(); }
    void TearDown() override { ResetEngineState(); }
};
