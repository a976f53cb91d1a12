// Facts about the machine the tests run on.
#pragma once

bool RunningUnderWine();
