// Facts about the machine the tests run on.
#pragma once

// True when a Windows build runs under wine. Wine stores files under host
// names in the host's character set, so tests of names above 0x7F that go
// through a second path (the C runtime) are not meaningful there.
bool RunningUnderWine();
