// Writing the preferences back to PIER.INI at exit, with the translator
// choices and entries of the moment.
#pragma once

void SavePreferences();
