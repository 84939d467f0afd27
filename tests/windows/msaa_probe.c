/* Prints what a Windows screen reader learns through MSAA (oleacc) of the
 * top-level window titled ARGV[1] once it appears: the window's role and
 * name, then each descendant's, one a line, indented by depth, as
 * "role|name". Waits up to 20 s for the window. Exits 1 when there is none,
 * 2 when it exposes no IAccessible. Usage: msaa_probe.exe TITLE */
#define COBJMACROS
#include <oleacc.h>
#include <stdio.h>
#include <windows.h>

static void print_utf8(const wchar_t *text)
{
    char bytes[1024];
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, NULL, NULL);
    fputs(size > 0 ? bytes : "?", stdout);
}

static void print_node(IAccessible *node, VARIANT child, int depth)
{
    VARIANT role;
    BSTR name = NULL;
    wchar_t roleText[128] = L"";
    VariantInit(&role);
    if (SUCCEEDED(IAccessible_get_accRole(node, child, &role)) && role.vt == VT_I4)
        GetRoleTextW(role.lVal, roleText, 128);
    IAccessible_get_accName(node, child, &name);
    printf("%*s", depth * 2, "");
    print_utf8(roleText);
    fputs("|", stdout);
    print_utf8(name ? name : L"");
    fputs("\n", stdout);
    SysFreeString(name);
}

static void walk(IAccessible *node, int depth)
{
    VARIANT self;
    long count = 0;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    print_node(node, self, depth);
    if (depth > 8 || FAILED(IAccessible_get_accChildCount(node, &count)) || count <= 0)
        return;
    VARIANT children[64];
    long obtained = 0;
    if (count > 64)
        count = 64;
    if (FAILED(AccessibleChildren(node, 0, count, children, &obtained)))
        return;
    for (long i = 0; i < obtained; ++i) {
        if (children[i].vt == VT_DISPATCH && children[i].pdispVal) {
            IAccessible *child = NULL;
            if (SUCCEEDED(IDispatch_QueryInterface(children[i].pdispVal, &IID_IAccessible,
                                                   (void **)&child))) {
                walk(child, depth + 1);
                IAccessible_Release(child);
            }
        } else if (children[i].vt == VT_I4) {
            print_node(node, children[i], depth + 1);
        }
        VariantClear(&children[i]);
    }
}

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2)
        return 3;
    HWND window = NULL;
    for (int tries = 0; tries < 200 && !window; ++tries) {
        window = FindWindowW(NULL, argv[1]);
        if (!window)
            Sleep(100);
    }
    if (!window)
        return 1;
    CoInitialize(NULL);
    IAccessible *accessible = NULL;
    if (FAILED(AccessibleObjectFromWindow(window, OBJID_CLIENT, &IID_IAccessible,
                                          (void **)&accessible)))
        return 2;
    walk(accessible, 0);
    IAccessible_Release(accessible);
    CoUninitialize();
    return 0;
}
