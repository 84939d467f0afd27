/* A DLL that another user of the PC might plant where a program looks for
 * modules, plugins or providers. Loaded into a process, it appends its own
 * path to the file PLANTED_MARK, so a test sees that it ran there. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 2];
        DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
        HANDLE mark = CreateFileA(PLANTED_MARK, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (mark != INVALID_HANDLE_VALUE) {
            DWORD written;
            path[length++] = '\n';
            WriteFile(mark, path, length, &written, NULL);
            CloseHandle(mark);
        }
    }
    return TRUE;
}
