// Vellork.exe: the window, on the system's own controls and dialogs.

#include "form1.h"
#include "wintoolkit.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    vellork::win32::SystemDialogs dialogs;
    vellork::win32::SystemShell shell;
    vellork::win32::Form1 form(instance, dialogs, shell);
    if (!form.create()) return 1;
    ::ShowWindow(form.window(), show);
    ::UpdateWindow(form.window());
    return form.run();
}
