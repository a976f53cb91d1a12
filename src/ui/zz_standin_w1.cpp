// Stand-ins for the copy, delete and dialog commands and drive discovery,
// until they arrive. Each does nothing and answers "nothing changed"; a test
// may count the calls and set the answer.
#include "disk/discovery.h"
#include "ui/copy_commands.h"
#include "ui/delete_commands.h"
#include "ui/dialogs.h"
#include "ui/zz_standin_w1.h"

StandInRecord StandIns;

namespace {
int Called(const char* name)
{
    StandIns.calls.push_back(name);
    return StandIns.answer;
}
}  // namespace

int CopyMacToPc(WindowHandle) { return Called("CopyMacToPc"); }
int CopyPcToMac(WindowHandle) { return Called("CopyPcToMac"); }
int DeleteOnPc(WindowHandle) { return Called("DeleteOnPc"); }
int DeleteOnMac(WindowHandle) { return Called("DeleteOnMac"); }
int RunMacCopyPrefs(WindowHandle) { return Called("RunMacCopyPrefs"); }
int RunPcCopyPrefs(WindowHandle) { return Called("RunPcCopyPrefs"); }
int RunPcItemInfo(WindowHandle) { return Called("RunPcItemInfo"); }
int RunMacItemInfo(WindowHandle) { return Called("RunMacItemInfo"); }
int RunCreatePcDirectory(WindowHandle) { return Called("RunCreatePcDirectory"); }
int RunCreateMacFolder(WindowHandle) { return Called("RunCreateMacFolder"); }
int RunFormatDialog(WindowHandle)
{
    Called("RunFormatDialog");
    return StandIns.formatIndex;
}
void RunAboutBox(WindowHandle) { Called("RunAboutBox"); }
void DiscoverDrives() { StandIns.calls.push_back("DiscoverDrives"); }
