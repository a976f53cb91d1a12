// What the stand-ins of zz_standin_w1.cpp were asked, and what they answer.
#pragma once
#include <string>
#include <vector>

struct StandInRecord {
    std::vector<std::string> calls;
    int answer = 0;        // the end value of every command and dialog
    int formatIndex = -1;  // the Format dialog's choice
};
extern StandInRecord StandIns;
